// The program's own readers of the engine's word-data block (the word's last file, its
// count there, its newest link block) and the walk over all files of one word. The
// search and the word count read the word table through these.
#pragma once

#include <functional>

#include "include/kolvolib.h"

kulong kiGetLastFile(const void* data);
kulong kiGetLastRank(const void* data);
kulong kiGetFiles(const void* data);

using QvFileVisit = std::function<void(kulong file, kulong rank)>;

// Calls visit(file, rank) for every file of the link blocks from list on, following each
// block's next-block word. A chain leads only to older blocks, each lower in the table
// than the one before. The engine refuses a next block past the end of the one it
// leaves; one that leads back into it (a damaged chain) ends the walk.
void qvForEachListFile(CFileLinks* links, kulong list, const QvFileVisit& visit);
// The word's last file, then the files of its link blocks, newest block first.
void qvForEachWordFile(CTextStorage* words, CFileLinks* links, kulong word, const QvFileVisit& visit);
