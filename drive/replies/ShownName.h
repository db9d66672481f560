// Names of entries whose names would share a path on the drive. Lookups ignore the case of
// a–z and the service's names are cleaned of \ / : * ? " < > |, so two entries of one folder
// can end up with names that upper-case alike. All but one of them are shown under a name
// made from their id: the id joined on with ":" before the extension ("report:42.txt", a
// folder "Photos:42"). A cleaned name never holds ":", so a name made this way cannot meet a
// plain one, and it gives its plain name back.
#pragma once

#include <string>
#include <string_view>

// `plain` with ":" + `id` put in before its extension (the part from its last "." on, unless
// that "." comes first); at the end for a folder. The id is cleaned as names are, so that
// the result is one step of a path.
std::u16string NameWithId(std::u16string_view plain, std::u16string_view id, bool folder);

// The plain name of `shown`: without the ":" + `id` that NameWithId put in; `shown` itself
// when it holds none.
std::u16string PlainNameOf(std::u16string_view shown, std::u16string_view id);
