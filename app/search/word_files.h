// The program's own readers of the engine's word-data block (the word's last file, its
// count there, its newest link block) and the walk over all files of one word. The
// search and the word count read the word table through these.
#pragma once

#include <functional>

#include "include/kolvolib.h"

kulong kiGetLastFile(const void* data);
kulong kiGetLastRank(const void* data);
kulong kiGetFiles(const void* data);

// Calls visit(file, rank) for the word's last file, then for every file of its link
// blocks, newest block first. A block met twice (a damaged chain) ends the walk.
void qvForEachWordFile(CTextStorage* words, CFileLinks* links, kulong word,
                       const std::function<void(kulong file, kulong rank)>& visit);
