#include "commissioning/plansteps.h"

namespace commissioning {

const char* stepKindText(StepKind)
{
    return "";
}

std::vector<PlanStep> planSteps(const Plan&, const std::vector<QORT_ModuleScanResponseType>&,
    const std::vector<AdapterSubnet>&, const PlanCheckOptions&)
{
    return {};
}

std::vector<std::string> planProblems(const Plan&, const std::vector<PlanStep>&)
{
    return {};
}

std::string stepLine(const PlanStep&)
{
    return {};
}

std::string dryRunSummary(const std::vector<PlanStep>&)
{
    return {};
}

PlanRun::PlanRun(std::vector<PlanStep>, bool)
{
}

std::vector<QORT_ConfigureRequestType> PlanRun::requests() const
{
    return {};
}

void PlanRun::sent(const modules::MacAddress&)
{
}

void PlanRun::answered(const modules::MacAddress&, Answer)
{
}

bool PlanRun::verify(const std::vector<QORT_ModuleScanResponseType>&)
{
    return false;
}

void PlanRun::cancel()
{
}

std::vector<PlanRun::RowResult> PlanRun::results() const
{
    return {};
}

std::string PlanRun::summary() const
{
    return {};
}

bool PlanRun::succeeded() const
{
    return false;
}

PlanRun::RowResult PlanRun::resultOf(const Row&) const
{
    return {};
}

} // namespace commissioning
