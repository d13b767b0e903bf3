#include "devicelist/configureflow.h"

#include "configdialog/ethernetconfigdlg.h"
#include "devicelist/devicelistctrl.h"
#include "modules/columntexts.h"
#include "resources/resourceids.h"

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

bool RunConfigureFlow(CDeviceListCtrl& list, int row, const ConfigureSender& send)
{
    // No parent: the dialog is application-modal on its own, as the list's
    // window may be rebuilt by a rescan while it is open.
    CEthernetConfigDlg dialog;
    const QByteArray macText = list.GetItemText(row, modules::kColumnMac).toLatin1();
    dialog.Title =
        ConfigureDialogTitle(std::string_view(macText.constData(), static_cast<std::size_t>(macText.size())));

    const std::optional<modules::MacAddress> mac = list.GetRowMac(row);
    if (!mac)
        return false;
    const std::optional<QORT_ModuleScanResponseType> found = list.FindModule(*mac);
    if (!found)
        return false;

    modules::prefillConfigFields(*found, dialog);
    if (dialog.DoModal() != IDOK)
        return false;

    const QORT_ConfigureRequestType request = modules::buildConfigureRequest(*found, dialog);
    list.SetLastConfiguredMac(modules::macOfRecord(*found));
    send(request);
    return true;
}

void AttachConfigureFlow(CDeviceListCtrl& list, ConfigureSender send)
{
    QObject::connect(&list, &CDeviceListCtrl::RowDoubleClicked, &list,
        [&list, send = std::move(send)](int row) { RunConfigureFlow(list, row, send); });
}

} // namespace devicelist
