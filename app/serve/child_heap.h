// The heap of a connection's child. A child forked from the server starts with no
// memory of its own, so every page its search, listing and answer write is a page
// fault; the child's heap is grown once, in one block the kernel may back with huge
// pages, so that a request faults a few times instead of thousands.
#pragma once

// Called in the child right after the fork, before the request is served. Where the
// allocator does not grow its heap by the program break (a sanitizer's, say), nothing
// changes.
void qvPrepareChildHeap();
