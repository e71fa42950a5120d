// The one door from the names layer to the window: the names layer makes
// the texts, the window shows them.
#pragma once

// The names changed: the window's title and icon name show them again,
// and with bar the title bar too (a draft in the title dialog stays).
void show_names(bool bar);
