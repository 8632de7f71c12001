// Where Orvelane keeps its files, and text-mode file access.
#pragma once

#include <cstdint>
#include <string>

// The user's configuration folder, $XDG_CONFIG_HOME/orvelane or
// ~/.config/orvelane; created when missing. It is where the settings file,
// the rule file and the test message are looked for when they are not in the
// current directory.
std::string ConfigFolder();

// The process's current directory, without a trailing slash.
std::string CurrentDirectory();
bool SetCurrentDirectory(const std::string& path);

// The path of the file `name` in `folder`: the exact name when it exists,
// else the first entry whose name differs from it only in the case of ASCII
// letters (as the original platform found "ORVELANE.INI"), else the exact
// name all the same.
std::string FindFile(const std::string& folder, const std::string& name);

// Reads a whole file in text mode: every CR LF becomes LF. `diskLength` gets
// the file's length on disk. False when the file cannot be opened.
bool ReadTextFile(const std::string& path, std::string& text, int64_t* diskLength = nullptr);
// Reads a whole file as raw bytes.
bool ReadBinaryFile(const std::string& path, std::string& bytes);
// Writes a file in text mode: every LF becomes CR LF.
bool WriteTextFile(const std::string& path, const std::string& text);
// The same, written to a temporary file beside `path` and renamed over it: a
// reader, or a crash, sees the old file or the new one, never half of one.
// The file keeps its permissions; a new one gets the usual ones.
bool ReplaceTextFile(const std::string& path, const std::string& text);
