// Wrappers of the file-system component and of the folder, file, drive and text-stream objects it
// hands out.
//
// Each wrapper holds one reference to its component object (copying adds one, destroying
// releases it). Each operation calls the object's member of the same name and converts the
// result; a wrapper whose holder is empty, or holds an object without that member, answers
// with the empty value of the result (empty text, false, 0, an empty date or variant, or an
// item wrapper whose holder is empty). Texts are GBK. What the members mean on this platform
// (drives, attributes, short names, special folders) is told in platform/file_system_objects.h.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "automation/object_holder.h"
#include "automation/variant_value.h"
#include "platform/datetime.h"

namespace zembrat::automation {

class DriveItem;
class FolderItem;
class FileItem;

// Open modes and formats of text streams.
inline constexpr int kForReading = 1;
inline constexpr int kForWriting = 2;
inline constexpr int kForAppending = 8;
inline constexpr int kFormatSystemDefault = -2;  // GBK
inline constexpr int kFormatUnicode = -1;        // UTF-16 LE
inline constexpr int kFormatAscii = 0;           // GBK bytes as they stand

class TextStreamItem {
  public:
    TextStreamItem() = default;

    void Attach(const ObjectHolder& object);
    const ObjectHolder& object() const { return holder_; }

    int Line() const;
    int Column() const;
    // Also true for a stream that cannot be read (empty, closed or writing), so that a read loop
    // over it ends.
    bool AtEndOfStream() const;
    bool AtEndOfLine() const;
    // count characters; a two-byte character counts as one.
    std::string Read(int count) const;
    // The next line without its LF or CR LF.
    std::string ReadLine() const;
    std::string ReadAll() const;
    void Write(std::string_view text) const;
    // text and CR LF.
    void WriteLine(std::string_view text) const;
    void WriteBlankLines(int count) const;
    void Skip(int count) const;
    void SkipLine() const;
    void Close() const;

  private:
    ObjectHolder holder_;
};

class DriveItem {
  public:
    DriveItem() = default;

    void Attach(const ObjectHolder& object);
    const ObjectHolder& object() const { return holder_; }

    std::string Path() const;
    std::string DriveLetter() const;
    std::string ShareName() const;
    int DriveType() const;
    FolderItem RootFolder() const;
    double AvailableSpace() const;
    double FreeSpace() const;
    double TotalSize() const;
    std::string VolumeName() const;
    void SetVolumeName(std::string_view name) const;
    std::string FileSystem() const;
    int SerialNumber() const;
    bool IsReady() const;

  private:
    ObjectHolder holder_;
};

// What folder and file wrappers share.
class EntryItem {
  public:
    void Attach(const ObjectHolder& object);
    const ObjectHolder& object() const { return holder_; }

    std::string Path() const;
    std::string Name() const;
    void SetName(std::string_view name) const;
    std::string ShortPath() const;
    std::string ShortName() const;
    DriveItem Drive() const;
    FolderItem ParentFolder() const;
    int Attributes() const;
    void SetAttributes(int attributes) const;
    platform::DateTime DateCreated() const;
    platform::DateTime DateLastModified() const;
    platform::DateTime DateLastAccessed() const;
    std::string Type() const;
    // An integer variant with the size in bytes, empty on failure; the caller clears it.
    VariantValue Size() const;
    void Copy(std::string_view destination, bool overwrite = true) const;
    void Move(std::string_view destination) const;

  protected:
    EntryItem() = default;
    void DeleteEntry(bool force) const;

    ObjectHolder holder_;
};

class FolderItem : public EntryItem {
  public:
    FolderItem() = default;

    bool IsRootFolder() const;
    // Collections of folder and file objects in name order, walked with a CollectionWalker;
    // an empty holder when the folder is not there.
    ObjectHolder SubFolders() const;
    ObjectHolder Files() const;
    ObjectHolder Items(bool subfolders) const;
    void Delete(bool force = false) const { DeleteEntry(force); }
    // A relative path is taken below this folder.
    TextStreamItem CreateTextFile(std::string_view path, bool overwrite, bool unicode) const;
};

class FileItem : public EntryItem {
  public:
    FileItem() = default;

    void Delete(bool force) const { DeleteEntry(force); }
    TextStreamItem OpenAsTextStream(int ioMode, int format = kFormatSystemDefault) const;
};

class FileSystem {
  public:
    // Creates the file-system component.
    FileSystem();
    // Stands in front of the given component (an empty holder gives a wrapper that answers
    // everything with empty results).
    explicit FileSystem(ObjectHolder component) : holder_(std::move(component)) {}

    const ObjectHolder& object() const { return holder_; }

    ObjectHolder Drives() const;
    std::string BuildPath(std::string_view path, std::string_view name) const;
    std::string GetDriveName(std::string_view path) const;
    // The folder part of path without a separator at its end, except for the root "/" itself,
    // which has no shorter form.
    std::string GetParentFolderName(std::string_view path) const;
    std::string GetFileName(std::string_view path) const;
    std::string GetBaseName(std::string_view path) const;
    std::string GetExtensionName(std::string_view path) const;
    std::string GetAbsolutePathName(std::string_view path) const;
    std::string GetTempName() const;
    bool DriveExists(std::string_view drivePath) const;
    bool FileExists(std::string_view path) const;
    bool FolderExists(std::string_view path) const;
    DriveItem GetDrive(std::string_view drivePath) const;
    FileItem GetFile(std::string_view path) const;
    FolderItem GetFolder(std::string_view path) const;
    // 0 "/usr", 1 "/usr/lib", 2 the temporary folder.
    FolderItem GetSpecialFolder(int kind) const;
    void DeleteFile(std::string_view pattern, bool force = false) const;
    void DeleteFolder(std::string_view pattern, bool force = false) const;
    // True when the source has gone and the destination is there (for a destination ending in
    // a separator: the source's name inside it), or when source and destination, equal but for
    // ASCII letter case, name one existing entry (a move onto itself).
    bool MoveFile(std::string_view source, std::string_view destination) const;
    bool MoveFolder(std::string_view source, std::string_view destination) const;
    void CopyFile(std::string_view source, std::string_view destination,
                  bool overwrite = true) const;
    void CopyFolder(std::string_view source, std::string_view destination,
                    bool overwrite = true) const;
    // True when the folder was made.
    bool CreateFolder(std::string_view path) const;
    TextStreamItem CreateTextFile(std::string_view path, bool overwrite = false,
                                  bool unicode = false) const;
    TextStreamItem OpenTextFile(std::string_view path, int ioMode = kForReading,
                                bool create = false, int format = kFormatSystemDefault) const;
    // 0 standard input, 1 standard output, 2 standard error.
    TextStreamItem GetStandardStream(int type, bool unicode) const;
    std::string GetFileVersion(std::string_view path) const;

  private:
    ObjectHolder holder_;
};

}  // namespace zembrat::automation
