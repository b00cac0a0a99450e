// The index's own matchers: search terms against stored words, with the index's word
// characters deciding whether '*' and '?' are wildcards, and folder filters.
#include "engine/index/kolvo_index.h"
#include "engine/index/name_matching.h"

bool CKolvoIndex::doesWordMatch(const char* word, const char* pattern) const {
  return kolvo::wordMatch(word, pattern, validCharMask.data(), validTrailingMask.data());
}

bool CKolvoIndex::dirMatch(const char* directory, const char* pattern) const {
  return kolvo::dirMatch(directory, pattern);
}
