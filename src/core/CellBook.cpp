#include "core/CellBook.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

namespace vocarine {

namespace {

// Our largest possible book is a few kilobytes; anything beyond this is not a cell file.
constexpr std::size_t MaxFileBytes = 1024 * 1024;

// How much of a bad word is quoted back to the user.
constexpr std::size_t MaxQuotedBytes = 24;

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// What the reader wants next: how to name it when it is missing, what to call
// its value when it is out of bounds, and the bounds.
struct Expected {
    std::string what;  // "the degree of note 2 of cell 3"
    const char* name;  // "degree"
    int32_t low;
    int32_t high;
};

std::string NoteOf(int note, int cell)
{
    return "note " + std::to_string(note + 1) + " of cell " + std::to_string(cell + 1);
}

// A word from the file made safe to show: cut short, control bytes replaced,
// and never cut inside a UTF-8 sequence.
std::string Quote(std::string_view word)
{
    bool cut = false;
    if (word.size() > MaxQuotedBytes) {
        std::size_t end = MaxQuotedBytes;
        while (end > 0 && (static_cast<unsigned char>(word[end]) & 0xC0) == 0x80) {
            --end;
        }
        word = word.substr(0, end);
        cut = true;
    }
    std::string quoted = "\"";
    for (char c : word) {
        const auto byte = static_cast<unsigned char>(c);
        quoted += (byte < 0x20 || byte == 0x7F) ? '?' : c;
    }
    quoted += cut ? "...\"" : "\"";
    return quoted;
}

class Reader {
public:
    Reader(std::string_view text, const std::string& fileName) : text_(text), fileName_(fileName) {}

    // Reads the next number; on failure `error` says why and the result means nothing.
    bool Read(const Expected& expected, int32_t& value, CellFileError& error)
    {
        SkipSpace();
        if (pos_ == text_.size()) {
            error = Error(lastLine_, "the file ends where " + expected.what + " was expected");
            return false;
        }
        const std::size_t start = pos_;
        std::size_t end = start;
        if (text_[end] == '+' || text_[end] == '-') {
            ++end;
        }
        const std::size_t digitsStart = end;
        // Values are gathered in 64 bits and stop growing once they are out of
        // every bound, so an endless run of digits cannot overflow.
        int64_t magnitude = 0;
        while (end < text_.size() && IsDigit(text_[end])) {
            if (magnitude <= INT32_MAX) {
                magnitude = magnitude * 10 + (text_[end] - '0');
            }
            ++end;
        }
        const bool hasDigits = end > digitsStart;
        if (!hasDigits || (end < text_.size() && !IsSpace(text_[end]))) {
            std::size_t wordEnd = end;
            while (wordEnd < text_.size() && !IsSpace(text_[wordEnd])) {
                ++wordEnd;
            }
            error = Error(line_, Quote(text_.substr(start, wordEnd - start)) + " is not a whole number");
            return false;
        }
        const int64_t number = text_[start] == '-' ? -magnitude : magnitude;
        if (number < expected.low || number > expected.high) {
            error = Error(line_, std::string(expected.name) + " " + std::string(Shown(text_.substr(start, end - start)))
                                     + " is outside " + std::to_string(expected.low) + " to "
                                     + std::to_string(expected.high));
            return false;
        }
        pos_ = end;
        lastLine_ = line_;
        value = static_cast<int32_t>(number);
        return true;
    }

    CellFileError Error(int line, std::string message) const { return {fileName_, line, std::move(message)}; }

private:
    void SkipSpace()
    {
        while (pos_ < text_.size() && IsSpace(text_[pos_])) {
            if (text_[pos_] == '\n') {
                ++line_;
            }
            ++pos_;
        }
    }

    // A number as written, cut short when it is a long run of digits.
    static std::string Shown(std::string_view number)
    {
        if (number.size() <= MaxQuotedBytes) {
            return std::string(number);
        }
        return std::string(number.substr(0, MaxQuotedBytes)) + "...";
    }

    std::string_view text_;
    const std::string& fileName_;
    std::size_t pos_ = 0;
    int line_ = 1;      // line of the reading position
    int lastLine_ = 1;  // line of the last number read, where an early end is reported
};

bool StartsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

std::string CellFileError::Text() const
{
    if (line <= 0) {
        return file + ": " + message;
    }
    return file + ", line " + std::to_string(line) + ": " + message;
}

CellFileResult ParseCellText(std::string_view text, const std::string& fileName)
{
    Reader reader(text, fileName);
    if (StartsWith(text, "\xEF\xBB\xBF")) {
        return reader.Error(1, "the file starts with a UTF-8 byte-order mark; save it as plain text without one");
    }
    if (StartsWith(text, "\xFF\xFE") || StartsWith(text, "\xFE\xFF")) {
        return reader.Error(1, "the file is written in UTF-16; save it as plain text");
    }

    ParsedBook book;
    CellFileError error;
    if (!reader.Read({"the number of cells", "cell count", 0, MaxCells}, book.count, error)) {
        return error;
    }
    for (int i = 0; i < book.count; ++i) {
        Cell& cell = book.cells[i];
        const std::string cellName = "cell " + std::to_string(i + 1);
        if (!reader.Read({"the note count of " + cellName, "note count", 0, MaxNotes}, cell.count, error)) {
            return error;
        }
        for (int j = 0; j < cell.count; ++j) {
            NoteRef& note = cell.notes[j];
            if (!reader.Read({"the degree of " + NoteOf(j, i), "degree", 0, MaxDegree}, note.degree, error)
                || !reader.Read({"the accidental of " + NoteOf(j, i), "accidental", 0, MaxAccidental},
                                note.accidental, error)) {
                return error;
            }
        }
    }
    // Whatever follows the last number the counts call for is not looked at.
    return book;
}

CellFileResult ReadCellFile(const std::string& path)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (!ec && fs::is_directory(status)) {
        return CellFileError{path, 0, std::string("cannot be opened (") + std::strerror(EISDIR) + ")"};
    }
    // Devices and pipes could block or never end.
    if (!ec && fs::exists(status) && !fs::is_regular_file(status)) {
        return CellFileError{path, 0, "cannot be opened (it is not a regular file)"};
    }

    errno = 0;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file) {
        const int why = errno != 0 ? errno : ENOENT;
        return CellFileError{path, 0, std::string("cannot be opened (") + std::strerror(why) + ")"};
    }

    // One byte more than allowed tells a file that is too large from one that just fits.
    std::string text(MaxFileBytes + 1, '\0');
    std::size_t size = 0;
    while (size < text.size()) {
        const std::size_t got = std::fread(text.data() + size, 1, text.size() - size, file.get());
        if (got == 0) {
            break;
        }
        size += got;
    }
    if (std::ferror(file.get())) {
        const int why = errno != 0 ? errno : EIO;
        return CellFileError{path, 0, std::string("cannot be read (") + std::strerror(why) + ")"};
    }
    if (size > MaxFileBytes) {
        return CellFileError{path, 0, "is larger than 1 MiB, too large to be a cell file"};
    }
    text.resize(size);
    return ParseCellText(text, path);
}

}  // namespace vocarine
