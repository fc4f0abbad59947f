// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// The digest that the format check relies on, against the published SHA-256 examples: one block, the
// padding spilling into a second block, and a message of whole blocks only.
#include <gtest/gtest.h>

#include "Sha256.h"

TEST(Sha256, PublishedExamples) {
    const auto digest = [](const std::string& text) { return romtest::Sha256Hex({text.begin(), text.end()}); };
    EXPECT_EQ(digest("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(digest("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(digest(std::string(1000000, 'a')), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}
