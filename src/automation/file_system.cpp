#include "automation/file_system.h"

#include <memory>

#include "platform/file_system_objects.h"
#include "text/gbk.h"

namespace zembrat::automation {
namespace {

using platform::DriveObject;
using platform::FileObject;
using platform::FileSystemEntry;
using platform::FileSystemObject;
using platform::FolderObject;
using platform::TextStreamObject;

// An item wrapper for a member's object result: a new, empty wrapper with the object attached
// (an empty holder when the member failed).
template <class Item>
Item Wrap(std::shared_ptr<platform::Component> object) {
    Item item;
    item.Attach(ObjectHolder(std::move(object)));
    return item;
}

}  // namespace

// ---- TextStreamItem

void TextStreamItem::Attach(const ObjectHolder& object) {
    holder_ = object;
}

int TextStreamItem::Line() const {
    auto* stream = holder_.As<TextStreamObject>();
    return stream ? stream->Line() : 0;
}

int TextStreamItem::Column() const {
    auto* stream = holder_.As<TextStreamObject>();
    return stream ? stream->Column() : 0;
}

bool TextStreamItem::AtEndOfStream() const {
    auto* stream = holder_.As<TextStreamObject>();
    return stream ? stream->AtEndOfStream() : true;
}

bool TextStreamItem::AtEndOfLine() const {
    auto* stream = holder_.As<TextStreamObject>();
    return stream ? stream->AtEndOfLine() : true;
}

std::string TextStreamItem::Read(int count) const {
    auto* stream = holder_.As<TextStreamObject>();
    return stream ? stream->Read(count) : std::string();
}

std::string TextStreamItem::ReadLine() const {
    auto* stream = holder_.As<TextStreamObject>();
    return stream ? stream->ReadLine() : std::string();
}

std::string TextStreamItem::ReadAll() const {
    auto* stream = holder_.As<TextStreamObject>();
    return stream ? stream->ReadAll() : std::string();
}

void TextStreamItem::Write(std::string_view text) const {
    if (auto* stream = holder_.As<TextStreamObject>()) stream->Write(text);
}

void TextStreamItem::WriteLine(std::string_view text) const {
    if (auto* stream = holder_.As<TextStreamObject>()) stream->WriteLine(text);
}

void TextStreamItem::WriteBlankLines(int count) const {
    if (auto* stream = holder_.As<TextStreamObject>()) stream->WriteBlankLines(count);
}

void TextStreamItem::Skip(int count) const {
    if (auto* stream = holder_.As<TextStreamObject>()) stream->Skip(count);
}

void TextStreamItem::SkipLine() const {
    if (auto* stream = holder_.As<TextStreamObject>()) stream->SkipLine();
}

void TextStreamItem::Close() const {
    if (auto* stream = holder_.As<TextStreamObject>()) stream->Close();
}

// ---- DriveItem

void DriveItem::Attach(const ObjectHolder& object) {
    holder_ = object;
}

std::string DriveItem::Path() const {
    auto* drive = holder_.As<DriveObject>();
    return drive ? drive->Path() : std::string();
}

std::string DriveItem::DriveLetter() const {
    auto* drive = holder_.As<DriveObject>();
    return drive ? drive->DriveLetter() : std::string();
}

std::string DriveItem::ShareName() const {
    auto* drive = holder_.As<DriveObject>();
    return drive ? drive->ShareName() : std::string();
}

int DriveItem::DriveType() const {
    auto* drive = holder_.As<DriveObject>();
    return drive ? drive->DriveType() : 0;
}

FolderItem DriveItem::RootFolder() const {
    auto* drive = holder_.As<DriveObject>();
    return Wrap<FolderItem>(drive ? drive->RootFolder() : nullptr);
}

double DriveItem::AvailableSpace() const {
    auto* drive = holder_.As<DriveObject>();
    return drive ? drive->AvailableSpace().value_or(0) : 0;
}

double DriveItem::FreeSpace() const {
    auto* drive = holder_.As<DriveObject>();
    return drive ? drive->FreeSpace().value_or(0) : 0;
}

double DriveItem::TotalSize() const {
    auto* drive = holder_.As<DriveObject>();
    return drive ? drive->TotalSize().value_or(0) : 0;
}

std::string DriveItem::VolumeName() const {
    auto* drive = holder_.As<DriveObject>();
    return drive ? drive->VolumeName() : std::string();
}

void DriveItem::SetVolumeName(std::string_view name) const {
    if (auto* drive = holder_.As<DriveObject>()) drive->SetVolumeName(name);
}

std::string DriveItem::FileSystem() const {
    auto* drive = holder_.As<DriveObject>();
    return drive ? drive->FileSystem() : std::string();
}

int DriveItem::SerialNumber() const {
    auto* drive = holder_.As<DriveObject>();
    return drive ? drive->SerialNumber().value_or(0) : 0;
}

bool DriveItem::IsReady() const {
    auto* drive = holder_.As<DriveObject>();
    return drive && drive->IsReady();
}

// ---- folders and files

void EntryItem::Attach(const ObjectHolder& object) {
    holder_ = object;
}

std::string EntryItem::Path() const {
    auto* entry = holder_.As<FileSystemEntry>();
    return entry ? entry->Path() : std::string();
}

std::string EntryItem::Name() const {
    auto* entry = holder_.As<FileSystemEntry>();
    return entry ? entry->Name() : std::string();
}

void EntryItem::SetName(std::string_view name) const {
    if (auto* entry = holder_.As<FileSystemEntry>()) entry->SetName(name);
}

std::string EntryItem::ShortPath() const {
    auto* entry = holder_.As<FileSystemEntry>();
    return entry ? entry->ShortPath() : std::string();
}

std::string EntryItem::ShortName() const {
    auto* entry = holder_.As<FileSystemEntry>();
    return entry ? entry->ShortName() : std::string();
}

DriveItem EntryItem::Drive() const {
    auto* entry = holder_.As<FileSystemEntry>();
    return Wrap<DriveItem>(entry ? entry->Drive() : nullptr);
}

FolderItem EntryItem::ParentFolder() const {
    auto* entry = holder_.As<FileSystemEntry>();
    return Wrap<FolderItem>(entry ? entry->ParentFolder() : nullptr);
}

int EntryItem::Attributes() const {
    auto* entry = holder_.As<FileSystemEntry>();
    return entry ? entry->Attributes().value_or(0) : 0;
}

void EntryItem::SetAttributes(int attributes) const {
    if (auto* entry = holder_.As<FileSystemEntry>()) entry->SetAttributes(attributes);
}

platform::DateTime EntryItem::DateCreated() const {
    auto* entry = holder_.As<FileSystemEntry>();
    return entry ? entry->DateCreated().value_or(platform::DateTime{}) : platform::DateTime{};
}

platform::DateTime EntryItem::DateLastModified() const {
    auto* entry = holder_.As<FileSystemEntry>();
    return entry ? entry->DateLastModified().value_or(platform::DateTime{}) : platform::DateTime{};
}

platform::DateTime EntryItem::DateLastAccessed() const {
    auto* entry = holder_.As<FileSystemEntry>();
    return entry ? entry->DateLastAccessed().value_or(platform::DateTime{}) : platform::DateTime{};
}

std::string EntryItem::Type() const {
    auto* entry = holder_.As<FileSystemEntry>();
    return entry ? entry->Type() : std::string();
}

VariantValue EntryItem::Size() const {
    auto* entry = holder_.As<FileSystemEntry>();
    if (!entry) return {};
    const auto size = entry->Size();
    return size ? VariantValue::Integer(static_cast<std::int64_t>(*size)) : VariantValue();
}

void EntryItem::Copy(std::string_view destination, bool overwrite) const {
    if (auto* entry = holder_.As<FileSystemEntry>()) entry->Copy(destination, overwrite);
}

void EntryItem::Move(std::string_view destination) const {
    if (auto* entry = holder_.As<FileSystemEntry>()) entry->Move(destination);
}

void EntryItem::DeleteEntry(bool force) const {
    if (auto* entry = holder_.As<FileSystemEntry>()) entry->Delete(force);
}

bool FolderItem::IsRootFolder() const {
    auto* folder = holder_.As<FolderObject>();
    return folder && folder->IsRootFolder();
}

ObjectHolder FolderItem::SubFolders() const {
    auto* folder = holder_.As<FolderObject>();
    return ObjectHolder(folder ? folder->SubFolders() : nullptr);
}

ObjectHolder FolderItem::Files() const {
    auto* folder = holder_.As<FolderObject>();
    return ObjectHolder(folder ? folder->Files() : nullptr);
}

ObjectHolder FolderItem::Items(bool subfolders) const {
    return subfolders ? SubFolders() : Files();
}

TextStreamItem FolderItem::CreateTextFile(std::string_view path, bool overwrite,
                                          bool unicode) const {
    auto* folder = holder_.As<FolderObject>();
    return Wrap<TextStreamItem>(folder ? folder->CreateTextFile(path, overwrite, unicode)
                                       : nullptr);
}

TextStreamItem FileItem::OpenAsTextStream(int ioMode, int format) const {
    auto* file = holder_.As<FileObject>();
    return Wrap<TextStreamItem>(file ? file->OpenAsTextStream(ioMode, format) : nullptr);
}

// ---- FileSystem

FileSystem::FileSystem() : holder_(ObjectHolder::Make<FileSystemObject>()) {}

ObjectHolder FileSystem::Drives() const {
    auto* fso = holder_.As<FileSystemObject>();
    return ObjectHolder(fso ? fso->Drives() : nullptr);
}

std::string FileSystem::BuildPath(std::string_view path, std::string_view name) const {
    auto* fso = holder_.As<FileSystemObject>();
    return fso ? fso->BuildPath(path, name) : std::string();
}

std::string FileSystem::GetDriveName(std::string_view path) const {
    auto* fso = holder_.As<FileSystemObject>();
    return fso ? fso->GetDriveName(path) : std::string();
}

std::string FileSystem::GetParentFolderName(std::string_view path) const {
    auto* fso = holder_.As<FileSystemObject>();
    if (!fso) return {};
    std::string parent = fso->GetParentFolderName(path);
    // The root keeps its separator: without it nothing would be left to name it.
    if (parent.size() > 1 && text::EndsWithSeparator(parent)) parent.pop_back();
    return parent;
}

std::string FileSystem::GetFileName(std::string_view path) const {
    auto* fso = holder_.As<FileSystemObject>();
    return fso ? fso->GetFileName(path) : std::string();
}

std::string FileSystem::GetBaseName(std::string_view path) const {
    auto* fso = holder_.As<FileSystemObject>();
    return fso ? fso->GetBaseName(path) : std::string();
}

std::string FileSystem::GetExtensionName(std::string_view path) const {
    auto* fso = holder_.As<FileSystemObject>();
    return fso ? fso->GetExtensionName(path) : std::string();
}

std::string FileSystem::GetAbsolutePathName(std::string_view path) const {
    auto* fso = holder_.As<FileSystemObject>();
    return fso ? fso->GetAbsolutePathName(path) : std::string();
}

std::string FileSystem::GetTempName() const {
    auto* fso = holder_.As<FileSystemObject>();
    return fso ? fso->GetTempName() : std::string();
}

bool FileSystem::DriveExists(std::string_view drivePath) const {
    auto* fso = holder_.As<FileSystemObject>();
    return fso && fso->DriveExists(drivePath);
}

bool FileSystem::FileExists(std::string_view path) const {
    auto* fso = holder_.As<FileSystemObject>();
    return fso && fso->FileExists(path);
}

bool FileSystem::FolderExists(std::string_view path) const {
    auto* fso = holder_.As<FileSystemObject>();
    return fso && fso->FolderExists(path);
}

DriveItem FileSystem::GetDrive(std::string_view drivePath) const {
    auto* fso = holder_.As<FileSystemObject>();
    return Wrap<DriveItem>(fso ? fso->GetDrive(drivePath) : nullptr);
}

FileItem FileSystem::GetFile(std::string_view path) const {
    auto* fso = holder_.As<FileSystemObject>();
    return Wrap<FileItem>(fso ? fso->GetFile(path) : nullptr);
}

FolderItem FileSystem::GetFolder(std::string_view path) const {
    auto* fso = holder_.As<FileSystemObject>();
    return Wrap<FolderItem>(fso ? fso->GetFolder(path) : nullptr);
}

FolderItem FileSystem::GetSpecialFolder(int kind) const {
    auto* fso = holder_.As<FileSystemObject>();
    return Wrap<FolderItem>(fso ? fso->GetSpecialFolder(kind) : nullptr);
}

void FileSystem::DeleteFile(std::string_view pattern, bool force) const {
    if (auto* fso = holder_.As<FileSystemObject>()) fso->DeleteFile(pattern, force);
}

void FileSystem::DeleteFolder(std::string_view pattern, bool force) const {
    if (auto* fso = holder_.As<FileSystemObject>()) fso->DeleteFolder(pattern, force);
}

namespace {

// The move's outcome as the caller sees it, whatever the member answered.
template <class Exists>
bool MoveDone(const FileSystemObject& fso, std::string_view source, std::string_view destination,
              Exists exists) {
    std::string arrived(destination);
    if (text::EndsWithSeparator(destination)) arrived += fso.GetFileName(source);
    if (!exists(source) && exists(arrived)) return true;
    // Onto itself: on a file system that tells letter case apart, "A.TXT" beside "a.txt" is
    // another entry, and a move that stopped there has not been done.
    return text::EqualsNoCase(source, destination) && fso.NameTheSameEntry(source, destination);
}

}  // namespace

bool FileSystem::MoveFile(std::string_view source, std::string_view destination) const {
    auto* fso = holder_.As<FileSystemObject>();
    if (!fso) return false;
    fso->MoveFile(source, destination);
    return MoveDone(*fso, source, destination,
                    [this](std::string_view p) { return FileExists(p); });
}

bool FileSystem::MoveFolder(std::string_view source, std::string_view destination) const {
    auto* fso = holder_.As<FileSystemObject>();
    if (!fso) return false;
    fso->MoveFolder(source, destination);
    return MoveDone(*fso, source, destination,
                    [this](std::string_view p) { return FolderExists(p); });
}

void FileSystem::CopyFile(std::string_view source, std::string_view destination,
                          bool overwrite) const {
    if (auto* fso = holder_.As<FileSystemObject>()) fso->CopyFile(source, destination, overwrite);
}

void FileSystem::CopyFolder(std::string_view source, std::string_view destination,
                            bool overwrite) const {
    if (auto* fso = holder_.As<FileSystemObject>()) fso->CopyFolder(source, destination, overwrite);
}

bool FileSystem::CreateFolder(std::string_view path) const {
    auto* fso = holder_.As<FileSystemObject>();
    const FolderItem made = Wrap<FolderItem>(fso ? fso->CreateFolder(path) : nullptr);
    return !made.Path().empty();
}

TextStreamItem FileSystem::CreateTextFile(std::string_view path, bool overwrite,
                                          bool unicode) const {
    auto* fso = holder_.As<FileSystemObject>();
    return Wrap<TextStreamItem>(fso ? fso->CreateTextFile(path, overwrite, unicode) : nullptr);
}

TextStreamItem FileSystem::OpenTextFile(std::string_view path, int ioMode, bool create,
                                        int format) const {
    auto* fso = holder_.As<FileSystemObject>();
    return Wrap<TextStreamItem>(fso ? fso->OpenTextFile(path, ioMode, create, format) : nullptr);
}

TextStreamItem FileSystem::GetStandardStream(int type, bool unicode) const {
    auto* fso = holder_.As<FileSystemObject>();
    return Wrap<TextStreamItem>(fso ? fso->GetStandardStream(type, unicode) : nullptr);
}

std::string FileSystem::GetFileVersion(std::string_view path) const {
    auto* fso = holder_.As<FileSystemObject>();
    return fso ? fso->GetFileVersion(path) : std::string();
}

}  // namespace zembrat::automation
