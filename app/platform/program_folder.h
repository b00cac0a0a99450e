// Where the program finds what is installed with it: the engine library and the message
// catalogs are looked for beside the program (as in the build folder) and then at their
// place relative to it in the install layout (bin/ -> lib/<arch>/kolvo/, share/locale/),
// so an installed copy runs from any prefix without LD_LIBRARY_PATH.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

// The folder of the running program; empty when the system does not tell.
std::filesystem::path qvProgramFolder();
// The first of the places (relative to the program's folder) where name exists,
// empty when there is none.
std::filesystem::path qvFindBesideProgram(const std::vector<std::string>& places, const std::string& name);
