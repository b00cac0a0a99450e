// The integrity check of an opened index: walks every table (word and skip-word chains,
// file chains and parents, the link blocks of each word and their chains, the counts)
// and describes each damage in one line. The "check" command of kolvocmd runs it.
#pragma once

#include <string>
#include <vector>

class CKolvoIndex;

namespace kolvo {

// One line per damage found, none for a sound index. Reads only; a table the index
// lacks is itself a damage.
std::vector<std::string> checkIndex(const CKolvoIndex& index);

}  // namespace kolvo
