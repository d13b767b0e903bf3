#include "devicelist/configureflow.h"

#include "commissioning/change.h"
#include "configdialog/ethernetconfigdlg.h"
#include "devicelist/devicelistctrl.h"
#include "devicelist/devicelistmodel.h"
#include "modules/columntexts.h"
#include "resources/resourceids.h"
#include "ui/messagebox.h"

#include <QByteArray>
#include <QObject>

#include <algorithm>
#include <cstring>
#include <utility>

namespace devicelist {

std::string ConfigureDialogTitle(std::string_view macText)
{
    std::string title(kConfigureTitlePrefix);
    title += macText;
    return title;
}

std::string AddressInUseQuestion(std::uint32_t ip, const commissioning::AddressUse& use)
{
    return "The address " + modules::formatDottedAddress(ip) + " is already used by " + commissioning::holderText(use)
        + ". Set it anyway?";
}

namespace {

// True when the request may go out: its address is free, or the user
// chose to set it anyway.
bool AddressMayBeSet(const CDeviceListCtrl& list, const commissioning::Change& change, const AddressCheck& check)
{
    const std::optional<std::uint32_t> ip = commissioning::addressToAsk(change);
    if (!check || !ip)
        return true;
    const commissioning::AddressUse use = check(*ip, modules::macOfRecord(change.found), list.Modules());
    if (!use.inUse)
        return true;
    const int answer = AfxMessageBox(
        QString::fromStdString(AddressInUseQuestion(*ip, use)), MB_YESNO | MB_ICONEXCLAMATION | MB_DEFBUTTON2);
    return answer == IDYES;
}

} // namespace

static bool RunFlow(
    CDeviceListCtrl& list, int row, const ConfigureHooks& hooks, const QORT_ModuleScanResponseType* startValues);

bool RunConfigureFlow(CDeviceListCtrl& list, int row, const ConfigureSender& send)
{
    return RunConfigureFlow(list, row, ConfigureHooks{send, {}, {}, {}});
}

bool RunConfigureFlow(CDeviceListCtrl& list, int row, const ConfigureHooks& hooks)
{
    return RunFlow(list, row, hooks, nullptr);
}

bool RunUndoFlow(CDeviceListCtrl& list, int row, const QORT_ModuleScanResponseType& values, const ConfigureHooks& hooks)
{
    return RunFlow(list, row, hooks, &values);
}

namespace {

// The module as it was reported, with every value that values holds put in
// its place: what the dialog of an undo starts from.
QORT_ModuleScanResponseType WithValues(QORT_ModuleScanResponseType found, const QORT_ModuleScanResponseType& values)
{
    const auto take = [](std::uint8_t valid, std::uint32_t value, std::uint8_t& toValid, std::uint32_t& to) {
        if (valid != 0)
            toValid = valid, to = value;
    };
    take(values.IpAddrValid, values.IpAddr, found.IpAddrValid, found.IpAddr);
    take(values.SubnetMaskValid, values.SubnetMask, found.SubnetMaskValid, found.SubnetMask);
    take(values.GatewayValid, values.Gateway, found.GatewayValid, found.Gateway);
    take(values.Dns1Valid, values.Dns1, found.Dns1Valid, found.Dns1);
    take(values.Dns2Valid, values.Dns2, found.Dns2Valid, found.Dns2);
    if (values.DhcpValid != 0)
        found.DhcpValid = values.DhcpValid, found.Dhcp = values.Dhcp;
    if (values.HostNameValid != 0) {
        found.HostNameValid = values.HostNameValid;
        std::memcpy(found.HostName, values.HostName, sizeof found.HostName);
    }
    return found;
}

} // namespace

namespace {

QString Quoted(const char* bytes, std::size_t size)
{
    return QLatin1Char('"') + devicelist::DeviceListModel::ShownText({bytes, size}) + QLatin1Char('"');
}

bool ShorteningConfirmed(const QORT_ModuleScanResponseType& found, const QORT_ConfigureRequestType& request)
{
    const std::size_t reported = ::strnlen(found.HostName, QORT_TEXT_FIELD_SIZE);
    const QString question =
        QStringLiteral("The module's host name %1 has %2 bytes; a module takes at most %3. Send it shortened to %4?")
            .arg(Quoted(found.HostName, reported))
            .arg(reported)
            .arg(modules::kConfigTextMaxChars)
            .arg(Quoted(request.HostName, ::strnlen(request.HostName, QORT_TEXT_FIELD_SIZE)));
    return AfxMessageBox(question, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
}

// The dialog's fields as the user left them, to open it again with: the
// password is typed again, and "Change password" starts unchecked so that
// an empty new password can never go out unseen.
void KeepEdits(modules::EthernetConfigFields& fields, const modules::EthernetConfigFields& edited)
{
    fields = edited;
    std::memset(fields.Password, 0, sizeof fields.Password);
    std::memset(fields.NewPassword, 0, sizeof fields.NewPassword);
    fields.ChangePassword = 0;
}

} // namespace

// The dialog starts from the module's reported values, or for an undo from
// those values with the logged ones put in; every check is the same. After
// No to a question (the address is in use, the name would be shortened)
// the dialog opens again with the user's edits.
static bool RunFlow(
    CDeviceListCtrl& list, int row, const ConfigureHooks& hooks, const QORT_ModuleScanResponseType* startValues)
{
    const QByteArray macText = list.GetItemText(row, modules::kColumnMac).toLatin1();
    const std::optional<modules::MacAddress> mac = list.GetRowMac(row);
    if (!mac)
        return false;
    const std::optional<QORT_ModuleScanResponseType> found = list.FindModule(*mac);
    if (!found)
        return false;

    const QORT_ModuleScanResponseType shown = startValues ? WithValues(*found, *startValues) : *found;
    std::optional<modules::EthernetConfigFields> edited;
    for (;;) {
        // No parent: the dialog is application-modal on its own, as the list's
        // window may be rebuilt by a rescan while it is open.
        CEthernetConfigDlg dialog;
        if (edited)
            KeepEdits(dialog, *edited);
        else
            modules::prefillConfigFields(shown, dialog);
        dialog.Title =
            ConfigureDialogTitle(std::string_view(macText.constData(), static_cast<std::size_t>(macText.size())));
        if (dialog.DoModal() != IDOK)
            return false;
        edited = static_cast<const modules::EthernetConfigFields&>(dialog);

        const QORT_ConfigureRequestType request = modules::buildConfigureRequest(shown, dialog);
        const commissioning::Change change = commissioning::changeOf(*found, request);
        if (commissioning::cutsReportedName(change) && !ShorteningConfirmed(*found, request))
            continue;
        if (!AddressMayBeSet(list, change, hooks.checkAddress)) {
            if (hooks.refused)
                hooks.refused(*found, request);
            continue;
        }
        list.SetLastConfiguredMac(modules::macOfRecord(*found));
        if (hooks.sending)
            hooks.sending(*found, request);
        hooks.send(request);
        return true;
    }
}

void AttachConfigureFlow(CDeviceListCtrl& list, ConfigureHooks hooks)
{
    QObject::connect(&list, &CDeviceListCtrl::RowDoubleClicked, &list,
        [&list, hooks = std::move(hooks)](int row) { RunConfigureFlow(list, row, hooks); });
}

void AttachConfigureFlow(CDeviceListCtrl& list, ConfigureSender send)
{
    AttachConfigureFlow(list, ConfigureHooks{std::move(send), {}, {}, {}});
}

} // namespace devicelist
