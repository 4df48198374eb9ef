// The per-user base folders of the freedesktop base-directory rules.
// Each returns an absolute path without a trailing "/": the environment variable when it
// holds an absolute path, else the default under $HOME (or the user's home from the
// password database when HOME is unset).
#pragma once

#include <string>

std::string HomeDir();
std::string XdgConfigHome();  // $XDG_CONFIG_HOME or ~/.config
std::string XdgCacheHome();   // $XDG_CACHE_HOME  or ~/.cache
std::string XdgStateHome();   // $XDG_STATE_HOME  or ~/.local/state
std::string XdgDataHome();    // $XDG_DATA_HOME   or ~/.local/share
// $TMPDIR when it names an absolute path, else "/tmp"; no trailing "/".
std::string TempDirPath();
