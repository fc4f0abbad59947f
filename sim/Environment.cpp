#include "Environment.h"

#include "Registry.h"

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace norsim {
namespace {

// At most `parts` pieces; the last keeps any further separators.
std::vector<std::string_view> split(std::string_view text, char separator, std::size_t parts) {
    std::vector<std::string_view> pieces;
    while (pieces.size() + 1 < parts) {
        const std::size_t end = text.find(separator);
        if (end == std::string_view::npos) break;
        pieces.push_back(text.substr(0, end));
        text.remove_prefix(end + 1);
    }
    pieces.push_back(text);
    return pieces;
}

std::optional<std::uint32_t> parseSize(std::string_view text) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    std::uint32_t value = 0;
    const char* const end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value, base);
    if (error != std::errc() || stop != end) return std::nullopt;
    return value;
}

void addEntry(Registry& registry, std::string_view entry) {
    // An image file name may itself contain colons.
    const std::vector<std::string_view> fields = split(entry, ':', 4);
    if (fields.size() < 3) throw std::invalid_argument("expected PATH:SIZE:ERASESIZE[:IMAGEFILE]");
    const auto size = parseSize(fields[1]);
    const auto eraseSize = parseSize(fields[2]);
    if (!size || !eraseSize) throw std::invalid_argument("sizes must be 32-bit decimal or 0x-hexadecimal numbers");
    const std::string path(fields[0]);
    if (fields.size() == 3) {
        registry.addMemory(path, *size, *eraseSize);
    } else {
        registry.addImage(path, *size, *eraseSize, std::string(fields[3]));
    }
}

std::optional<EraseCut> parseEraseCut(std::string_view text) {
    if (text == "untouched") return EraseCut::Untouched;
    if (text == "completed") return EraseCut::Completed;
    if (text == "zeroed") return EraseCut::Zeroed;
    if (text == "mixed") return EraseCut::Mixed;
    return std::nullopt;
}

}  // namespace

void armPowerCutFromEnvironment(Registry& registry) {
    const char* const after = std::getenv("NORSIM_CUT_AFTER");
    if (after == nullptr) return;
    const char* const bytes = std::getenv("NORSIM_CUT_BYTES");
    const char* const erase = std::getenv("NORSIM_CUT_ERASE");
    const std::optional<std::uint32_t> at = parseSize(after);
    const std::optional<std::uint32_t> programBytes = bytes != nullptr ? parseSize(bytes) : 0u;
    const std::optional<EraseCut> eraseCut = erase != nullptr ? parseEraseCut(erase) : EraseCut::Untouched;
    if (!at || *at == 0 || !programBytes || !eraseCut) {
        std::fprintf(stderr, "norsim: ignoring NORSIM_CUT_AFTER=%s: expected a count from 1, NORSIM_CUT_BYTES a "
                             "number and NORSIM_CUT_ERASE one of untouched, completed, zeroed, mixed\n", after);
        return;
    }
    PowerCut cut;
    cut.at = *at;
    cut.programBytes = *programBytes;
    cut.erase = *eraseCut;
    registry.power().arm(cut);
    registry.power().killOnCut();
}

void markBusyFromEnvironment(Registry& registry) {
    const char* const busy = std::getenv("NORSIM_BUSY");
    if (busy == nullptr) return;
    for (const std::string_view path : split(busy, ',', std::string_view::npos)) {
        if (path.empty()) continue;
        Node::Impl* const node = registry.find(path);
        if (node == nullptr) {
            std::fprintf(stderr, "norsim: ignoring NORSIM_BUSY entry \"%.*s\": no simulated node has this path\n",
                         static_cast<int>(path.size()), path.data());
            continue;
        }
        const auto lock = registry.lock();
        node->busy = true;
    }
}

void addNodesFromEnvironment(Registry& registry) {
    const char* const nodes = std::getenv("NORSIM_NODES");
    if (nodes == nullptr) return;
    for (const std::string_view entry : split(nodes, ',', std::string_view::npos)) {
        if (entry.empty()) continue;
        try {
            addEntry(registry, entry);
        } catch (const std::exception& error) {
            std::fprintf(stderr, "norsim: ignoring NORSIM_NODES entry \"%.*s\": %s\n", static_cast<int>(entry.size()),
                         entry.data(), error.what());
        }
    }
}

}  // namespace norsim
