// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

#include "HealthReport.h"

#include <utility>
#include <vector>

#include "Json.h"
#include "ResultText.h"

namespace {

// "1 rejected block", "2 rejected blocks".
std::string Count(int count, const std::string& one, const std::string& many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

const char* StatusName(ExitStatus status) {
    switch (status) {
    case kExitOk: return "healthy";
    case kExitDamaged: return "damaged";
    case kExitBusy: return "busy";
    default: return "unreadable";
    }
}

const char* StateName(int state) {
    switch (state) {
    case ROMSTORE_AREA_BLANK: return "blank";
    case ROMSTORE_AREA_FORMATTED: return "formatted";
    case ROMSTORE_AREA_RECORD: return "record";
    default: return "no_record";
    }
}

}  // namespace

HealthReport::HealthReport(int area, std::string node, int result, const romstore_health& health, std::string problem)
    : m_iArea(area), m_node(std::move(node)), m_iResult(result), m_health(health), m_problem(std::move(problem)) {}

ExitStatus HealthReport::status() const {
    if (m_iResult == -2) return kExitBusy;
    if (m_iResult != 0 || m_health.unreadable != 0) return kExitUnreadable;
    return m_health.newer_damaged > 0 || m_health.stale_sector >= 0 ? kExitDamaged : kExitOk;
}

std::string HealthReport::line() const {
    const std::string area = "area " + std::to_string(m_iArea) + ": ";
    if (m_iResult == -2) return area + "busy: another holder has " + m_node + " open";
    if (m_iResult != 0) return area + "unreadable: " + ResultText(m_iResult) + (m_problem.empty() ? "" : ": " + m_problem);

    const romstore_health& h = m_health;
    const std::string current = std::to_string(h.current_block);
    std::vector<std::string> facts;
    switch (h.state) {
    case ROMSTORE_AREA_BLANK: facts.push_back("blank"); break;
    case ROMSTORE_AREA_FORMATTED: facts.push_back("no record, format marker in block " + current); break;
    case ROMSTORE_AREA_RECORD:
        facts.push_back("record of " + std::to_string(h.record_length) + " bytes in block " + current);
        break;
    default:
        facts.push_back(h.unreadable != 0      ? "no record that a read finds"
                        : h.newer_damaged > 0 ? "no record that verifies"
                                              : "no record, no committed block");
    }
    const std::string kind = h.current_block >= 0 ? "newer" : "committed";
    if (h.newer_damaged == 1) facts.push_back(kind + " block " + std::to_string(h.newest_damaged) + " does not verify");
    if (h.newer_damaged > 1)
        facts.push_back(std::to_string(h.newer_damaged) + " " + kind + " blocks do not verify, the newest " +
                        std::to_string(h.newest_damaged));
    if (h.stale_sector >= 0)
        facts.push_back("sector " + std::to_string(h.stale_sector) + " is not blank" +
                        (h.current_block >= 0 ? " although the current record lives in another sector" : ""));
    if (h.older_damaged > 0) facts.push_back(Count(h.older_damaged, "older block does not", "older blocks do not") + " verify");
    if (h.rejected > 0) facts.push_back(Count(h.rejected, "rejected block", "rejected blocks"));
    if (h.unfinished > 0) facts.push_back(Count(h.unfinished, "block", "blocks") + " written but not committed");
    if (h.other > 0) facts.push_back(Count(h.other, "block", "blocks") + " in no known state");
    if (h.unreadable != 0) facts.push_back("part of the area could not be read");

    std::string text = area + StatusName(status());
    for (std::size_t i = 0; i < facts.size(); ++i) text += (i == 0 ? ", " : "; ") + facts[i];
    return text;
}

std::string HealthReport::json() const {
    JsonObject object;
    object.number("area", m_iArea).text("node", m_node).text("status", StatusName(status())).number("result", m_iResult);
    const romstore_health& h = m_health;
    const std::pair<const char*, int> fields[] = {
        {"current_block", h.current_block}, {"record_length", h.record_length}, {"newer_damaged", h.newer_damaged},
        {"newest_damaged", h.newest_damaged}, {"older_damaged", h.older_damaged}, {"rejected", h.rejected},
        {"unfinished", h.unfinished}, {"other", h.other}, {"stale_sector", h.stale_sector}, {"unreadable", h.unreadable}};
    if (m_iResult != 0) object.null("state");
    else object.text("state", StateName(h.state));
    for (const auto& [key, value] : fields) {
        if (m_iResult != 0) object.null(key);
        else object.number(key, value);
    }
    return object.str();
}
