#include "commissioning/planjournal.h"

#include <utility>

namespace commissioning {

PlanJournal::PlanJournal(WriteJournal& journal, std::string program)
    : journal_(journal)
    , program_(std::move(program))
{
}

std::optional<std::string> PlanJournal::sent(const PlanRun& run, const std::vector<QORT_ConfigureRequestType>& requests)
{
    std::vector<AuditEntry> entries;
    std::vector<modules::MacAddress> macs;
    for (const QORT_ConfigureRequestType& request : requests) {
        const modules::MacAddress mac = modules::macOfRequest(request);
        std::optional<AuditEntry> entry = run.sentEntry(mac);
        if (!entry)
            continue;
        entry->program = program_;
        entries.push_back(*entry);
        macs.push_back(mac);
    }
    if (entries.empty())
        return std::nullopt;
    std::optional<std::string> error;
    const std::vector<WriteJournal::Ticket> tickets = journal_.sent(entries, error);
    for (std::size_t i = 0; i < tickets.size() && i < macs.size(); ++i)
        tickets_[macs[i]] = tickets[i];
    return error;
}

std::vector<std::string> PlanJournal::record(const PlanRun& run, const std::set<modules::MacAddress>& macs)
{
    std::vector<std::pair<WriteJournal::Ticket, WriteResult>> outcomes;
    std::vector<AuditEntry> refused;
    for (const PlanRun::RowResult& result : run.results()) {
        if (!result.audit || macs.count(result.row.mac) == 0 || !recorded_.insert(result.row.mac).second)
            continue;
        const auto ticket = tickets_.find(result.row.mac);
        if (ticket != tickets_.end()) {
            outcomes.emplace_back(ticket->second, result.audit->result);
            continue;
        }
        refused.push_back(*result.audit);
        refused.back().program = program_;
    }
    std::vector<std::string> errors;
    if (std::optional<std::string> error = journal_.finish(outcomes))
        errors.push_back(std::move(*error));
    if (std::optional<std::string> error = journal_.log().append(refused))
        errors.push_back(std::move(*error));
    return errors;
}

std::vector<std::string> PlanJournal::recordAll(const PlanRun& run)
{
    std::set<modules::MacAddress> all;
    for (const PlanRun::RowResult& result : run.results())
        all.insert(result.row.mac);
    return record(run, all);
}

} // namespace commissioning
