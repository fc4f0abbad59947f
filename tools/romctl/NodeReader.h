// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// A device node opened read-only, for looking at the flash without the store: nothing read through
// it can program or erase.
#pragma once

#include <string>
#include <vector>

#include <mtd/mtd-user.h>

class NodeReader {
public:
    // Throws a Failure naming the node when it cannot be opened (busy: kExitBusy).
    explicit NodeReader(const std::string& node);
    ~NodeReader();
    NodeReader(const NodeReader&) = delete;
    NodeReader& operator=(const NodeReader&) = delete;

    // `length` bytes from `offset`; throws a Failure unless all of them could be read.
    std::vector<unsigned char> read(int offset, int length);
    // What the kernel reports of the node (MEMGETINFO); throws a Failure when it reports nothing.
    mtd_info_user info() const;
    // Whether another holder has the lock that the store takes for each call; a node that takes no
    // lock is held by nobody. Takes the lock itself, until the reader closes.
    bool heldElsewhere() const;

private:
    std::string m_node;
    int m_fd;
};
