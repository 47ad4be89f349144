#include "platform/file_system_internal.h"
#include "platform/file_system_objects.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <random>
#include <system_error>

#include "platform/files.h"
#include "text/codec.h"
#include "text/gbk.h"

namespace zembrat::platform {
using namespace text::literals;
using namespace fs_detail;

namespace {

std::string Utf16LeBytes(std::u16string_view units) {
    std::string out;
    out.reserve(units.size() * 2);
    for (char16_t u : units) {
        out += static_cast<char>(u & 0xFF);
        out += static_cast<char>(u >> 8);
    }
    return out;
}

}  // namespace

// ---- text stream

TextStreamObject::TextStreamObject(int fd, Mode mode, bool unicode, bool bomAtStart)
    : fd_(fd), mode_(mode), unicode_(unicode), atStart_(unicode && bomAtStart) {
    if (atStart_ && mode_ == Mode::Write) {
        atStart_ = false;
        if (!WriteAll(fd_, "\xFF\xFE")) Close();
    }
}

TextStreamObject::~TextStreamObject() {
    Close();
}

int TextStreamObject::Line() const {
    return fd_ >= 0 ? line_ : 0;
}
int TextStreamObject::Column() const {
    return fd_ >= 0 ? column_ : 0;
}

bool TextStreamObject::Fill() {
    if (eof_) return false;
    if (fd_ < 0) {
        eof_ = true;
        return false;
    }
    char chunk[65536];
    ssize_t n;
    do {
        n = ::read(fd_, chunk, sizeof chunk);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) {
        eof_ = true;
        if (!pending_.empty()) {  // half a character at the end
            buffer_ += text::GbkFromUtf16(u"\uFFFD");
            pending_.clear();
        }
        return false;
    }
    if (!unicode_) {
        buffer_.append(chunk, static_cast<std::size_t>(n));
        return true;
    }
    pending_.append(chunk, static_cast<std::size_t>(n));
    if (atStart_) {
        if (pending_.size() < 2) return true;
        if (pending_.compare(0, 2, "\xFF\xFE") == 0) pending_.erase(0, 2);
        atStart_ = false;
    }
    std::u16string units(pending_.size() / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i) {
        units[i] = static_cast<char16_t>(static_cast<unsigned char>(pending_[2 * i]) |
                                         (static_cast<unsigned char>(pending_[2 * i + 1]) << 8));
    }
    // A pair split between two reads is decoded once its second half has come.
    if (!units.empty() && units.back() >= 0xD800 && units.back() <= 0xDBFF) units.pop_back();
    buffer_ += text::GbkFromUtf16(units);
    pending_.erase(0, units.size() * 2);
    return true;
}

bool TextStreamObject::Available(std::size_t bytes) {
    while (buffer_.size() - position_ < bytes && !eof_) Fill();
    return buffer_.size() - position_ >= bytes;
}

std::size_t TextStreamObject::CharLengthAt(std::size_t offset) {
    if (!Available(offset + 1)) return 0;
    const auto c = static_cast<unsigned char>(buffer_[position_ + offset]);
    return (text::IsLeadByte(c) && Available(offset + 2)) ? 2 : 1;
}

void TextStreamObject::Track(std::string_view passed) {
    for (std::size_t i = 0; i < passed.size(); i += text::CharLength(passed, i)) {
        if (passed[i] == '\n') {
            ++line_;
            column_ = 1;
        } else {
            ++column_;
        }
    }
}

void TextStreamObject::Consume(std::size_t bytes) {
    Track(std::string_view(buffer_).substr(position_, bytes));
    position_ += bytes;
    if (position_ > 65536 && position_ * 2 > buffer_.size()) {
        buffer_.erase(0, position_);
        position_ = 0;
    }
}

bool TextStreamObject::AtEndOfStream() {
    // A stream that cannot be read has nothing more to give, so read loops end.
    return !Reading() || !Available(1);
}

bool TextStreamObject::AtEndOfLine() {
    if (!Reading() || !Available(1)) return true;
    const char c = buffer_[position_];
    if (c == '\n') return true;
    return c == '\r' && Available(2) && buffer_[position_ + 1] == '\n';
}

std::string TextStreamObject::Read(int count) {
    if (!Reading() || count <= 0) return {};
    std::size_t bytes = 0;
    for (int i = 0; i < count; ++i) {
        const std::size_t length = CharLengthAt(bytes);
        if (length == 0) break;
        bytes += length;
    }
    std::string out = buffer_.substr(position_, bytes);
    Consume(bytes);
    return out;
}

std::string TextStreamObject::ReadLine() {
    if (!Reading() || !Available(1)) return {};
    std::size_t searched = position_;
    std::size_t at;
    while ((at = buffer_.find('\n', searched)) == std::string::npos && !eof_) {
        searched = buffer_.size();
        Fill();
    }
    const std::size_t end = at == std::string::npos ? buffer_.size() : at;
    std::string line = buffer_.substr(position_, end - position_);
    Consume((at == std::string::npos ? end : at + 1) - position_);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

std::string TextStreamObject::ReadAll() {
    if (!Reading()) return {};
    while (!eof_) Fill();
    std::string out = buffer_.substr(position_);
    Consume(out.size());
    return out;
}

bool TextStreamObject::Skip(int count) {
    if (!Reading() || count < 0) return false;
    Read(count);
    return true;
}

bool TextStreamObject::SkipLine() {
    if (!Reading()) return false;
    ReadLine();
    return true;
}

bool TextStreamObject::Write(std::string_view gbk) {
    if (!Writing()) return false;
    const bool ok =
        unicode_ ? WriteAll(fd_, Utf16LeBytes(text::Utf16FromGbk(gbk))) : WriteAll(fd_, gbk);
    Track(gbk);
    return ok;
}

bool TextStreamObject::WriteLine(std::string_view gbk) {
    std::string line(gbk);
    line += "\r\n";
    return Write(line);
}

bool TextStreamObject::WriteBlankLines(int count) {
    if (count < 0) return false;
    std::string lines;
    for (int i = 0; i < count; ++i) lines += "\r\n";
    return Write(lines);
}

bool TextStreamObject::Close() {
    if (fd_ < 0) return false;
    const bool ok = ::close(fd_) == 0;
    fd_ = -1;
    return ok;
}

}  // namespace zembrat::platform
