// Editing Orvelane.ini as the settings dialog does: the file is kept line by
// line, byte for byte (comments, blank lines, unknown keys, their order, each
// line's own line end); a changed value is rewritten in place on the line
// that the reader takes it from (the last one of its key), a new key is
// added at the end, and PlugIn lines that leave the list are taken out. The
// dialog's fields as texts, their checks and the atomic write are here too,
// so that all of it is tested without a display.
#pragma once

#include "base/SettingsValues.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class CSettingsFile
{
public:
    explicit CSettingsFile(std::string_view bytes = {});
    std::string Bytes() const;

    // The value of the last line of `key` (spaces removed, as the reader
    // takes it); none when no line has the key.
    std::optional<std::string> Value(std::string_view key) const;
    // Changes the value of the last line of `key` in place, keeping how the
    // key and the blanks around "=" are written; without one, adds the line
    // "key=value" at the end.
    void Set(std::string_view key, std::string_view value);
    // Takes out every line of `key`.
    void RemoveAll(std::string_view key);
    // The lines of a key that accumulates (PlugIn) become `values`, in that
    // order: the lines whose values stay in order are kept where they are,
    // the others are taken out, and the new values go after the kept one
    // they follow (at the end when none is kept).
    void SetList(std::string_view key, const std::vector<std::string>& values);

private:
    struct SLine {
        std::string text; // without its line end
        std::string end;  // "\r\n", "\n" or "" (the last line)
    };
    // The key of a line as the reader sees it, or empty for a comment, a
    // blank line or a line without "=".
    static std::string KeyOf(const SLine& line);
    static std::string ValueOf(const SLine& line);
    static void Rewrite(SLine& line, std::string_view value);
    SLine NewLine(std::string_view key, std::string_view value) const;
    // Inserts before position `at`, giving the line before it a line end.
    void Insert(size_t at, SLine line);

    std::vector<SLine> m_lines;
    std::string m_strNewline;
};

// The dialog's fields, as texts in the file's units.
struct SSettingsForm {
    std::string popServer;
    std::string security = "auto";
    std::string certificate;
    std::string listenPort = "110";
    std::string listenAddress;
    std::string maxMemoMsg = "100";
    std::string maxStoreMB = "1024";
    std::string scanAnswerSeconds = "30";
    std::string maxMsgSize = "488"; // kilobytes; the default is 500000 bytes
    bool spamHeaders = false;
    std::vector<std::string> plugIns;
    // "<plug-in>.<key>" and value, one per key.
    std::vector<std::pair<std::string, std::string>> options;
};

// What the file says, as the reader takes it (an unknown or mistyped value
// shows the value in effect).
SSettingsForm ReadForm(const CSettingsFile& file);
// Puts the form into the file: a key whose line already says the same is
// left as it is; a key the file lacks is added only when the form differs
// from its default; options left out of the form are taken out.
void StoreForm(const SSettingsForm& form, CSettingsFile& file);

// One field that cannot be saved: its key (as in the file; "PlugIn" and
// "Options" for the lists) and a French message.
struct SFormProblem {
    std::string key;
    std::string message;
};
// `plugInPath` gives the file a configured plug-in name loads from, empty
// when there is none. Nothing is written while this is not empty.
std::vector<SFormProblem> CheckForm(const SSettingsForm& form,
                                    const std::function<std::string(const std::string&)>& plugInPath);

// The bounds the dialog accepts for each number.
struct SNumberBounds {
    const char* key;
    int32_t low, high;
};
inline constexpr SNumberBounds kFormNumbers[] = {
    {"ListenPort", 1, 65535},      {"MaxMemoMsg", 0, 1000000},      {"MaxStoreMB", 0, 1048576},
    {"ScanAnswerSeconds", 0, 86400}, {"MaxMsgSize", 0, 2097151},
};

// Writes `bytes` to `path` through a temporary file in the same folder,
// renamed over it: a reader sees the old file or the new one, never a
// part. A new file is readable by its owner alone. False with the reason.
bool WriteFileAtomically(const std::string& path, const std::string& bytes, std::string& error);
