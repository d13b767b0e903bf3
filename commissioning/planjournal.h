#ifndef COMMISSIONING_PLANJOURNAL_H
#define COMMISSIONING_PLANJOURNAL_H

#include "commissioning/auditlog.h"
#include "commissioning/plansteps.h"
#include "modules/macaddress.h"
#include "protocol/qort.h"

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

// The journal of one plan run, as both front ends keep it:
//
//   commissioning::WriteJournal journal(commissioning::AuditLog::forUser());
//   commissioning::PlanJournal planJournal(journal, "sorvinda");
//   for each wave (run.requests()):
//       planJournal.sent(run, requests that leave now);  // then send them
//       ... answers, verifying rescans ...
//       planJournal.record(run, the wave's modules);
//   planJournal.recordAll(run);                          // refused rows, anything left
//
// A write's `sent` record is on disk before it leaves; each row gets one
// outcome record: the outcome of its `sent` record, or `refused` for a row
// never sent. Each call is one append and one fsync for all the records it
// writes (an fsync costs milliseconds on a real disk, and a plan may hold
// hundreds of rows).

namespace commissioning {

class PlanJournal {
public:
    // journal must outlive this. program: "sorvinda", "SorvindaConfig".
    PlanJournal(WriteJournal& journal, std::string program);

    // The `sent` records of these requests of run; call it just before they
    // leave. A sentence when the records could not be written: the writes
    // go on all the same, and their outcomes are still tried.
    std::optional<std::string> sent(const PlanRun& run, const std::vector<QORT_ConfigureRequestType>& requests);

    // The outcome record of every row of these modules that has one and
    // was not recorded yet. The sentences of what could not be written.
    std::vector<std::string> record(const PlanRun& run, const std::set<modules::MacAddress>& macs);
    // record() for every row of the run.
    std::vector<std::string> recordAll(const PlanRun& run);

private:
    WriteJournal& journal_;
    std::string program_;
    std::map<modules::MacAddress, WriteJournal::Ticket> tickets_;
    std::set<modules::MacAddress> recorded_;
};

} // namespace commissioning

#endif
