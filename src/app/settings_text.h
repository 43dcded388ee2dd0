// The settings record as text, for the command line: one "Name=value" line per setting, named
// as the fields of Settings_Record, and the check and application of such assignments with the
// same rules as the settings pages (number conversion, port range, key length of the AES mode,
// the offered baud rates and COM names, the report format list). Plain functions, any thread.
#pragma once

#include <string>
#include <vector>

#include "base/settings.h"

// Every setting as "Name=value", in a fixed order: numbers in decimal, DC9_AES_Key as lowercase
// hex (the key length of the mode; all non-zero bytes while encryption is off), texts as they
// stand. Cfg_Stamp and the reserved bytes are not settings and are not shown.
std::vector<std::string> Settings_Lines(const Settings_Record& record);

// The text of `quenor settings --help`: the usage and every setting's name with its rule.
std::string Settings_Help();

// The names Settings_Lines shows, in its order.
std::vector<std::string> Settings_Names();

// `text` from a file or the command line made safe for a terminal: control characters, bytes that
// are not UTF-8 and the backslash shown as "\xNN"; printable text (UTF-8 included) as it stands.
std::string Printable_Text(const std::string& text);

// Applies "Name=value" assignments to `record`, all or nothing. Returns one line per bad
// assignment (unknown name, missing '=', a value the rules refuse, a key whose length does not
// fit the AES mode in force after all assignments, encryption on without a whole key, a receiver
// port equal to the automation port when either changes), naming the setting and the value
// (escaped with Printable_Text; never a key's digits); `record`
// is changed only when the list is empty. A later assignment of the same name wins.
std::vector<std::string> Apply_Settings(Settings_Record& record,
                                        const std::vector<std::string>& assignments);
