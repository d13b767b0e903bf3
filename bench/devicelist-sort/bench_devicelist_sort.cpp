// Not a test: prints times. Runs without any network (libqort is not
// linked); the widget benchmarks use Qt's offscreen platform.

#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "modules/columnspec.h"
#include "modules/columntexts.h"
#include "modules/devicetable.h"

#ifdef DEVICELIST_BENCH_WIDGETS
#include <QApplication>

#include "devicelist/devicelistctrl.h"
#endif

namespace {

constexpr int kModuleCount = 1000;

std::vector<QORT_ModuleScanResponseType> MakeModules(int count)
{
    std::mt19937 random(42);
    std::vector<QORT_ModuleScanResponseType> modules(static_cast<std::size_t>(count));
    const char* types[] = {"PROFINET IO", "Modbus/TCP", "EtherCAT", "EtherNet/IP"};
    for (int i = 0; i < count; ++i) {
        QORT_ModuleScanResponseType& m = modules[static_cast<std::size_t>(i)];
        std::memset(&m, 0, sizeof m);
        const std::uint8_t mac[QORT_MAC_SIZE] = {0x00, 0x30, 0x11, static_cast<std::uint8_t>(random()),
            static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i)};
        std::memcpy(m.MacId, mac, sizeof mac);
        m.MacIdValid = 1;
        m.IpAddr = (10u << 24) | (random() & 0xFFFFFFu);
        m.IpAddrValid = (i % 50) != 0; // some "N/A" rows among the addresses
        m.SubnetMask = 0xFFFFFF00u;
        m.SubnetMaskValid = 1;
        m.Gateway = (10u << 24) | 1u;
        m.GatewayValid = 1;
        m.Dhcp = static_cast<std::uint8_t>(random() % 2);
        m.DhcpValid = 1;
        m.ModuleVersionMajor = 1;
        m.ModuleVersionMinor = static_cast<std::uint8_t>(random() % 20);
        m.ModuleVersionBuild = static_cast<std::uint16_t>(random() % 1000);
        m.ModuleVersionValid = 1;
        std::strcpy(m.FbType, types[random() % 4]);
        m.FbTypeValid = 1;
    }
    return modules;
}

modules::DeviceTable FilledTable(const std::vector<QORT_ModuleScanResponseType>& modules)
{
    modules::DeviceTable table;
    table.AddColumns(modules::parseColumnSpec(modules::kDeviceListColumnSpec));
    for (const auto& module : modules) {
        table.Accept(module);
    }
    return table;
}

// One column click: a full sort by the clicked column, alternating columns so
// every iteration really reorders.
void BM_TableColumnClickSort(benchmark::State& state)
{
    const auto modules = MakeModules(kModuleCount);
    modules::DeviceTable table = FilledTable(modules);
    const int column = static_cast<int>(state.range(0));
    bool ascending = true;
    for (auto _ : state) {
        table.SortByColumn(modules::SortOrder{column, ascending});
        ascending = !ascending;
        benchmark::DoNotOptimize(table.RowCount());
    }
}
BENCHMARK(BM_TableColumnClickSort)
    ->Arg(modules::kColumnIp)
    ->Arg(modules::kColumnType)
    ->Arg(modules::kColumnMac)
    ->Unit(benchmark::kMillisecond);

void BM_TableAdd1000Modules(benchmark::State& state)
{
    const auto modules = MakeModules(kModuleCount);
    for (auto _ : state) {
        modules::DeviceTable table;
        table.AddColumns(modules::parseColumnSpec(modules::kDeviceListColumnSpec));
        for (const auto& module : modules) {
            table.AddModule(module);
        }
        benchmark::DoNotOptimize(table.RowCount());
    }
}
BENCHMARK(BM_TableAdd1000Modules)->Unit(benchmark::kMillisecond);

#ifdef DEVICELIST_BENCH_WIDGETS
void BM_WidgetColumnClickSort(benchmark::State& state)
{
    const auto modules = MakeModules(kModuleCount);
    CDeviceListCtrl list;
    list.InitColumns(modules::kDeviceListColumnSpec);
    for (const auto& module : modules) {
        list.AddModule(module);
    }
    list.selectionModel()->select(
        list.model()->index(0, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    bool ascending = false;
    for (auto _ : state) {
        list.SortByColumn(modules::kColumnIp, ascending);
        ascending = !ascending;
    }
}
BENCHMARK(BM_WidgetColumnClickSort)->Unit(benchmark::kMillisecond);

void BM_WidgetAdd1000Modules(benchmark::State& state)
{
    const auto modules = MakeModules(kModuleCount);
    for (auto _ : state) {
        CDeviceListCtrl list;
        list.InitColumns(modules::kDeviceListColumnSpec);
        for (const auto& module : modules) {
            list.AddModule(module);
        }
        benchmark::DoNotOptimize(list.GetItemCount());
    }
}
BENCHMARK(BM_WidgetAdd1000Modules)->Unit(benchmark::kMillisecond);

// A list of 200 modules as a technician sees it from a laptop in another
// subnet: every row carries a mark, every tooltip its note.
constexpr int kFieldModuleCount = 200;

void FillMarkedList(CDeviceListCtrl& list)
{
    list.InitColumns(modules::kDeviceListColumnSpec);
    list.resize(800, 600);
    list.SetAdapterSubnets({{"eth1", 2, (192u << 24) | (168u << 16) | 1u, 0xFFFFFF00u}});
    for (const auto& module : MakeModules(kFieldModuleCount))
        list.AddModule(module);
    QCoreApplication::processEvents(); // the notes of the burst
}

// One column click on 200 marked rows.
void BM_Widget200MarkedColumnClickSort(benchmark::State& state)
{
    CDeviceListCtrl list;
    FillMarkedList(list);
    bool ascending = false;
    for (auto _ : state) {
        list.SortByColumn(static_cast<int>(state.range(0)), ascending);
        ascending = !ascending;
    }
    const std::array<int, 3> notes = list.NoteCounts();
    state.counters["marked_rows"] = notes[0] + notes[1] + notes[2];
}
BENCHMARK(BM_Widget200MarkedColumnClickSort)
    ->Arg(modules::kColumnIp)
    ->Arg(modules::kColumnMac)
    ->Unit(benchmark::kMillisecond);

// One keystroke in the filter (Ctrl+F): the text grows by a character and
// every row is matched against IP, MAC, type and host name again.
void BM_Widget200FilterKeystroke(benchmark::State& state)
{
    CDeviceListCtrl list;
    FillMarkedList(list);
    const QString texts[] = {QStringLiteral("10.1"), QStringLiteral("10.12")};
    int next = 0;
    for (auto _ : state) {
        list.SetFilter(texts[next]);
        next = 1 - next;
        benchmark::DoNotOptimize(list.VisibleRowCount());
    }
}
BENCHMARK(BM_Widget200FilterKeystroke)->Unit(benchmark::kMillisecond);
#endif

} // namespace

int main(int argc, char** argv)
{
#ifdef DEVICELIST_BENCH_WIDGETS
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
#endif
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
