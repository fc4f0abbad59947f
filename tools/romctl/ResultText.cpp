// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

#include "ResultText.h"

std::string ResultText(int result) {
    const char* pszWord = nullptr;
    switch (result) {
        case 0: pszWord = "ok"; break;
        case -1: pszWord = "failed"; break;
        case -2: pszWord = "busy"; break;
        case -3: pszWord = "invalid argument"; break;
        case -4: pszWord = "bad block"; break;
        default: return "result " + std::to_string(result);
    }
    return std::string(pszWord) + " (" + std::to_string(result) + ")";
}
