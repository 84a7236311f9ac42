// Texts shown to the user, looked up by key.
//
// Alerts and other user-facing texts name a key ("Request_Discard_Symmetry")
// and take its text from the program's strings table,
// resources/strings/Localizable.strings. A key the table does not hold (or
// a table that could not be read) gives the key itself, so a missing entry
// shows up as its key instead of an empty alert.
//
// The table file holds entries of the form
//     "key" = "text";
// in UTF-8, with C-style block comments and // line comments between them.
// Inside the quotes \" is a quote, \\ a backslash, \n a line break and \t a
// tab; any other escaped character stands for itself.
//
// The table is read once, at the first lookup, from the file named with
// OVSetLocalizedStringsFile when the program named one, else from the first
// of these that exists: resources/strings/Localizable.strings beside the
// executable or one folder above it, then the same file in the source tree
// the program was built from. Lookups run on the main thread.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <string_view>

// The text of the key; the key itself when the table has no entry for it.
std::string OVLocalizedString(std::string_view key);

// Names the table file and reads it at once, replacing the current table.
// False when the file cannot be read or holds a malformed entry (the entries
// before and after a malformed one are kept; an unreadable file leaves an
// empty table, so every key shows as itself).
bool OVSetLocalizedStringsFile(const std::filesystem::path &file);

// Parses the text of a strings table into out (later entries of the same key
// replace earlier ones). False when an entry is malformed; *error then names
// the first bad line. Parsing goes on after a bad entry at its next ';'.
bool ParseLocalizedStrings(std::string_view text, std::map<std::string, std::string, std::less<>> &out,
                           std::string *error = nullptr);
