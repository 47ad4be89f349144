// The program itself calls GetFolder of the article folder and that folder's Files, which it
// walks; the rest (drives, text streams, copy, move, delete) is the interface kept whole.
//
// The file-system component and the objects it hands out: folders, files, drives, text streams,
// and ordered collections of them with their enumerators.
//
// They are served directly from the file system. Paths are GBK texts; every item keeps its path
// in absolute form without a final separator (the root is "/"), and asks the file system afresh
// on each call, so an item whose entry has gone away answers with empty results.
//
// Where the scripting component had a Windows-only meaning, these objects give the closest one
// the file systems here have; each such choice is noted at the member.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/component.h"
#include "platform/datetime.h"
#include "platform/item_collection.h"

namespace zembrat::platform {

// Attribute bits, as the scripting component numbers them.
inline constexpr int kAttributeReadOnly = 1;
inline constexpr int kAttributeHidden = 2;
inline constexpr int kAttributeSystem = 4;
inline constexpr int kAttributeDirectory = 16;
inline constexpr int kAttributeArchive = 32;
inline constexpr int kAttributeAlias = 1024;

// Drive kinds.
inline constexpr int kDriveUnknown = 0;
inline constexpr int kDriveRemovable = 1;
inline constexpr int kDriveFixed = 2;
inline constexpr int kDriveNetwork = 3;
inline constexpr int kDriveCdRom = 4;
inline constexpr int kDriveRamDisk = 5;

// Text stream open modes and formats.
inline constexpr int kForReading = 1;
inline constexpr int kForWriting = 2;
inline constexpr int kForAppending = 8;
inline constexpr int kFormatSystemDefault = -2;  // GBK, the program's own text
inline constexpr int kFormatUnicode = -1;        // UTF-16 LE, with a byte-order mark at the start
inline constexpr int kFormatAscii = 0;           // GBK as well: the bytes as they stand

class FolderObject;
class FileObject;
class DriveObject;
class TextStreamObject;

// A file system, seen from one path on it. Linux has no drive letters: a drive is the file
// system mounted at a folder, found as the highest folder above the path on the same device.
class DriveObject : public Component {
  public:
    explicit DriveObject(std::string mountPoint);

    // The mount point.
    std::string Path() const;
    // Always empty: there are no drive letters.
    std::string DriveLetter() const;
    // The mounted source of a network file system ("//host/share", "host:/export"), else empty.
    std::string ShareName() const;
    // kDriveRamDisk for memory file systems, kDriveNetwork for network ones, kDriveCdRom for
    // disc formats, otherwise kDriveFixed (removable media cannot be told apart here).
    int DriveType() const;
    std::shared_ptr<FolderObject> RootFolder() const;
    // Bytes, as floating values; nullopt when the file system cannot be asked.
    std::optional<double> AvailableSpace() const;
    std::optional<double> FreeSpace() const;
    std::optional<double> TotalSize() const;
    // The file system's label when the system publishes one (/dev/disk/by-label), else empty.
    std::string VolumeName() const;
    // Labels are set with the file system's own tools: always false.
    bool SetVolumeName(std::string_view name);
    // The file system's type as the mount table names it ("ext4", "tmpfs"), else empty.
    std::string FileSystem() const;
    // The device number of the mount, folded into 32 bits.
    std::optional<std::int32_t> SerialNumber() const;
    bool IsReady() const;

  private:
    std::string mountPoint_;
};

// What folders and files share. Path, Name, ShortPath and ShortName are answered from the
// stored path even when the entry has gone; everything else asks the file system.
class FileSystemEntry : public Component {
  public:
    const std::string& Path() const { return path_; }
    std::string Name() const;
    // Renames the entry inside its folder; false when the name holds a separator, is taken by
    // another entry, or the rename failed.
    bool SetName(std::string_view name);
    // There are no short (8.3) names: the short forms are the long ones.
    std::string ShortPath() const { return Path(); }
    std::string ShortName() const { return Name(); }
    std::shared_ptr<DriveObject> Drive() const;
    // nullptr for the root.
    std::shared_ptr<FolderObject> ParentFolder() const;
    // kAttributeReadOnly when the owner may not write, kAttributeHidden when the name starts with
    // ".", kAttributeDirectory for folders and links to them, kAttributeArchive for every file
    // (there is no archive flag to clear), kAttributeAlias for symbolic links. nullopt when the
    // entry is gone.
    std::optional<int> Attributes() const;
    // Only kAttributeReadOnly can be changed: setting it takes every write permission away,
    // clearing it gives the owner write permission. The other bits are ignored, as hidden-ness
    // is part of the name.
    bool SetAttributes(int attributes);
    // The birth time where the file system keeps one, else the last modification; local time.
    std::optional<DateTime> DateCreated() const;
    std::optional<DateTime> DateLastModified() const;
    std::optional<DateTime> DateLastAccessed() const;
    // The shell's type name: "文件夹" for folders, "<EXT> 文件" for files with an extension,
    // "文件" otherwise (GBK).
    std::string Type() const;
    // A file's size, or the total of the files below a folder (links are not followed).
    std::optional<std::uint64_t> Size() const;
    bool Delete(bool force);
    bool Copy(std::string_view destination, bool overwrite);
    // Moves the entry; on success the object stands for it at its new place.
    bool Move(std::string_view destination);

  protected:
    explicit FileSystemEntry(std::string absolutePath) : path_(std::move(absolutePath)) {}
    virtual bool IsFolderKind() const = 0;

    std::string path_;
};

class FolderObject : public FileSystemEntry {
  public:
    // path must be an absolute path in the stored form (see Normalized in the .cpp).
    explicit FolderObject(std::string absolutePath) : FileSystemEntry(std::move(absolutePath)) {}

    bool IsRootFolder() const;
    // Folders and links to folders, in name order; nullptr when the folder is gone.
    std::shared_ptr<ItemCollection> SubFolders() const;
    // Everything else, in name order; nullptr when the folder is gone.
    std::shared_ptr<ItemCollection> Files() const;
    // A relative path is taken below this folder.
    std::shared_ptr<TextStreamObject> CreateTextFile(std::string_view path, bool overwrite,
                                                     bool unicode) const;

  protected:
    bool IsFolderKind() const override { return true; }
};

class FileObject : public FileSystemEntry {
  public:
    explicit FileObject(std::string absolutePath) : FileSystemEntry(std::move(absolutePath)) {}

    std::shared_ptr<TextStreamObject> OpenAsTextStream(int ioMode, int format) const;

  protected:
    bool IsFolderKind() const override { return false; }
};

// A text read from or written to an open file (or a standard stream). Texts are GBK; the
// stream's format decides the bytes on the file. Lines end in LF or CR LF when read and in
// CR LF when written. Line and Column count from 1, Column in characters.
class TextStreamObject : public Component {
  public:
    enum class Mode { Read, Write };

    // Takes over the descriptor. bomAtStart: skip (reading) or write (writing) a UTF-16 LE
    // byte-order mark at the first byte.
    TextStreamObject(int fd, Mode mode, bool unicode, bool bomAtStart);
    ~TextStreamObject() override;
    TextStreamObject(const TextStreamObject&) = delete;
    TextStreamObject& operator=(const TextStreamObject&) = delete;

    // 0 once closed.
    int Line() const;
    int Column() const;
    // Only for reading streams; false on a writing or closed one.
    bool AtEndOfStream();
    bool AtEndOfLine();
    std::string Read(int count);
    std::string ReadLine();
    std::string ReadAll();
    bool Skip(int count);
    bool SkipLine();
    // Only for writing streams; false when the bytes did not all reach the file.
    bool Write(std::string_view gbk);
    bool WriteLine(std::string_view gbk);
    bool WriteBlankLines(int count);
    bool Close();

  private:
    bool Fill();
    bool Available(std::size_t bytes);
    // Length of the character starting offset bytes after the position; 0 at the end.
    std::size_t CharLengthAt(std::size_t offset);
    void Consume(std::size_t bytes);
    void Track(std::string_view passed);
    bool Reading() const { return fd_ >= 0 && mode_ == Mode::Read; }
    bool Writing() const { return fd_ >= 0 && mode_ == Mode::Write; }

    int fd_;
    Mode mode_;
    bool unicode_;
    bool atStart_;
    bool eof_ = false;
    std::string buffer_;  // decoded GBK text not yet handed out starts at position_
    std::size_t position_ = 0;
    std::string pending_;  // raw bytes not yet decodable (half a UTF-16 unit or pair)
    int line_ = 1;
    int column_ = 1;
};

// The file-system component itself. Operations that take a pattern accept "*" and "?" in its
// last part (matched without regard to ASCII letter case) unless an entry of exactly that name
// exists; a destination ending in a separator, or a pattern with wildcards, names a folder to put
// the entries into.
class FileSystemObject : public Component {
  public:
    // The mounted file systems that hold folders and have a size, in name order of their mount
    // points (just "/" where the mount table cannot be read).
    std::shared_ptr<ItemCollection> Drives() const;
    // path and name joined by one separator.
    std::string BuildPath(std::string_view path, std::string_view name) const;
    // For an absolute path the mount point of the file system holding it (or its nearest
    // existing folder); empty for a relative path.
    std::string GetDriveName(std::string_view path) const;
    // Everything before the last name, less the one separator before it: "/a/b" gives "/a",
    // "/a//b" gives "/a/", "/a" gives "/", "a" gives "". Separators at the end are ignored.
    std::string GetParentFolderName(std::string_view path) const;
    std::string GetFileName(std::string_view path) const;
    std::string GetBaseName(std::string_view path) const;
    std::string GetExtensionName(std::string_view path) const;
    // Absolute, with "." and ".." resolved as text and no final separator; the current folder
    // for an empty path.
    std::string GetAbsolutePathName(std::string_view path) const;
    // "rad" + five hexadecimal digits + ".tmp".
    std::string GetTempName() const;
    // A drive exists for every existing path.
    bool DriveExists(std::string_view drivePath) const;
    // Anything that is not a folder (following links).
    bool FileExists(std::string_view path) const;
    bool FolderExists(std::string_view path) const;
    std::shared_ptr<DriveObject> GetDrive(std::string_view drivePath) const;
    std::shared_ptr<FileObject> GetFile(std::string_view path) const;
    std::shared_ptr<FolderObject> GetFolder(std::string_view path) const;
    // 0 (the system's folder) is "/usr", 1 (system libraries) is "/usr/lib", 2 is the
    // temporary folder ($TMPDIR or /tmp); other kinds give nullptr.
    std::shared_ptr<FolderObject> GetSpecialFolder(int kind) const;
    // Read-only entries are deleted only with force. A link to a folder is removed as a link;
    // deleting never reaches through a link. Nothing is deleted when a read-only entry would
    // stop the deletion part-way.
    bool DeleteFile(std::string_view pattern, bool force) const;
    bool DeleteFolder(std::string_view pattern, bool force) const;
    // Never replaces an existing entry; moves across file systems by copying.
    bool MoveFile(std::string_view source, std::string_view destination) const;
    bool MoveFolder(std::string_view source, std::string_view destination) const;
    // Copies over an existing file only with overwrite, and never over a read-only one.
    bool CopyFile(std::string_view source, std::string_view destination, bool overwrite) const;
    // Copies the whole tree into the destination (made when missing); links are copied as links.
    bool CopyFolder(std::string_view source, std::string_view destination, bool overwrite) const;
    // Makes one folder level; nullptr when it exists already or cannot be made.
    std::shared_ptr<FolderObject> CreateFolder(std::string_view path) const;
    std::shared_ptr<TextStreamObject> CreateTextFile(std::string_view path, bool overwrite,
                                                     bool unicode) const;
    // ioMode kForReading, kForWriting or kForAppending; format kFormatSystemDefault,
    // kFormatUnicode or kFormatAscii; other values give nullptr.
    std::shared_ptr<TextStreamObject> OpenTextFile(std::string_view path, int ioMode, bool create,
                                                   int format) const;
    // 0 standard input, 1 standard output, 2 standard error.
    std::shared_ptr<TextStreamObject> GetStandardStream(int type, bool unicode) const;
    // Both paths reach one existing entry (the same file under two spellings of its name, on a
    // file system that ignores letter case, or the same name twice).
    bool NameTheSameEntry(std::string_view a, std::string_view b) const;
    // Executables here carry no version resource: always empty.
    std::string GetFileVersion(std::string_view path) const;
};

}  // namespace zembrat::platform
