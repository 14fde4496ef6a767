// The port menu, the port tooltips and re-opening a lost port when its device is back.
#include "app/clicklabel.h"
#include "app/form_comm.h"
#include "port/devicediscovery.h"
#include "port/portmapping.h"
#include "port/portrules.h"
#include "port/rfc2217.h"
#include "port/serialcontrol.h"

#include <QComboBox>
#include <QEvent>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTcpSocket>
#include <QTimer>

using PropertyPanel::Row;

namespace {

constexpr int kMenuPorts = 9;

// Recomputes a tooltip just before it is shown: a mapping made by hand, or a device
// plugged in since the last refresh, shows up without a timer polling for it.
class TipRefresh : public QObject
{
public:
    TipRefresh(std::function<void()> refresh, QObject *parent)
        : QObject(parent)
        , m_refresh(std::move(refresh))
    {}

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::ToolTip)
            m_refresh();
        return false;
    }

private:
    std::function<void()> m_refresh;
};

// Menu texts are paths and names; an ampersand in them is not a shortcut.
QString menuText(QString text)
{
    return text.replace(u'&', QStringLiteral("&&"));
}

std::optional<QString> askNetworkUrl(QWidget *owner, int port, const QString &current)
{
    bool ok = false;
    const QString url = QInputDialog::getText(
        owner, QStringLiteral("Network port"),
        QStringLiteral("COM %1 is the network port at (rfc2217://host:port or tcp://host:port; "
                       "rfc2217+tls:// or tcp+tls:// for TLS):")
            .arg(port),
        QLineEdit::Normal, current.isEmpty() ? QStringLiteral("rfc2217://") : current, &ok);
    return ok ? std::optional<QString>(url) : std::nullopt;
}

} // namespace

void Form_Comm::setupDevices()
{
    m_discovery = std::make_unique<SystemDeviceDiscovery>();
    m_networkUrlPrompt = askNetworkUrl;
    // A second receiver of the tick: Timer1_Timer keeps its one job, the indicator.
    connect(Timer1, &QTimer::timeout, this, &Form_Comm::replugTick);

    // The right button opens the port menu instead of the edit menu, and never picks.
    QWidget *const commPortName = lblfield[PropertyPanel::nameIndex(Row::CommPort)];
    for (QWidget *w : {static_cast<QWidget *>(cbo_Port),
                       static_cast<QWidget *>(cbo_Port->lineEdit()), commPortName}) {
        w->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(w, &QWidget::customContextMenuRequested, this,
                [this, w](const QPoint &pos) { showPortMenu(w->mapToGlobal(pos)); });
    }
    auto *refresh = new TipRefresh([this] { updatePortTips(true); }, this);
    for (QWidget *w :
         {static_cast<QWidget *>(cbo_Port),
          static_cast<QWidget *>(lbl_val[PropertyPanel::valueIndex(Row::CommPort)]),
          static_cast<QWidget *>(lbl_val[PropertyPanel::valueIndex(Row::PortOpen)]),
          static_cast<QWidget *>(lblfield[PropertyPanel::nameIndex(Row::PortOpen)]), commPortName})
        w->installEventFilter(refresh);
}

void Form_Comm::setDeviceDiscovery(std::unique_ptr<DeviceDiscovery> discovery)
{
    m_discovery = std::move(discovery);
    updatePortTips(true);
}

void Form_Comm::setNetworkUrlPrompt(NetworkUrlPrompt prompt)
{
    m_networkUrlPrompt = std::move(prompt);
}

QString Form_Comm::portHint(bool fresh)
{
    const std::optional<qint16> port = MSComm1->CommPort();
    const std::optional<bool> open = MSComm1->PortOpen();
    const QString error = MSComm1->lastError();
    // Compared part by part: this runs at every panel refresh, many times a second.
    HintKey key{port ? int(*port) : -1, open ? int(*open) : -1, error, m_mappingError};
    // The device list is a scan of the system: not once per received burst.
    if (!fresh && key == m_hintKey)
        return m_hint;
    m_hintKey = std::move(key);
    QStringList lines;
    if (port && *port > 0) {
        const PortMapping mapping = readPortMapping(*port, userConfigHome());
        lines << mappingText(mapping, m_discovery->list());
        // An entry changed by hand since the open: say what is open now.
        const QString device = MSComm1->devicePath();
        if (open.value_or(false) && !device.isEmpty() && device != mapping.device &&
            mapping.kind != PortMapping::Kind::Network)
            lines << QStringLiteral("open on ") + device;
    } else {
        lines << MSComm1->devicePath();
    }
    for (const QString &why : {error, m_mappingError})
        if (!why.isEmpty())
            lines << why;
    lines.removeAll(QString());
    m_hint = lines.join(u'\n');
    return m_hint;
}

void Form_Comm::updatePortTips(bool fresh)
{
    const QString hint = portHint(fresh);
    for (QWidget *w : {static_cast<QWidget *>(cbo_Port),
                       static_cast<QWidget *>(lbl_val[PropertyPanel::valueIndex(Row::CommPort)]),
                       static_cast<QWidget *>(lbl_val[PropertyPanel::valueIndex(Row::PortOpen)]),
                       static_cast<QWidget *>(lblfield[PropertyPanel::nameIndex(Row::PortOpen)]),
                       static_cast<QWidget *>(lblfield[PropertyPanel::nameIndex(Row::CommPort)])}) {
        if (w->toolTip() != hint)
            w->setToolTip(hint);
    }
}

QMenu *Form_Comm::showPortMenu(const QPoint &globalPos)
{
    const QString config = userConfigHome();
    QList<PortMapping> mappings;
    for (int n = 1; n <= kMenuPorts; ++n)
        mappings.append(readPortMapping(n, config));
    const PortMenu content = buildPortMenu(mappings, m_discovery->list());
    const std::optional<qint16> inUse = MSComm1->CommPort();

    auto *menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("portMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->setToolTipsVisible(true);
    for (const PortMenuEntry &p : content.ports) {
        QMenu *sub = menu->addMenu(menuText(p.text));
        sub->setObjectName(QStringLiteral("portMenu_com%1").arg(p.port));
        sub->setToolTipsVisible(true);
        if (inUse && *inUse == p.port) {
            QFont bold = sub->menuAction()->font();
            bold.setBold(true);
            sub->menuAction()->setFont(bold);
            sub->menuAction()->setToolTip(QStringLiteral("The port in use"));
        }
        QMenu *map = sub->addMenu(QStringLiteral("Map COM %1 to").arg(p.port));
        map->setToolTipsVisible(true);
        if (content.devices.isEmpty())
            map->addAction(QStringLiteral("No serial device attached"))->setEnabled(false);
        for (const DeviceMenuEntry &d : content.devices) {
            QAction *pick = map->addAction(menuText(d.text));
            pick->setCheckable(true);
            pick->setChecked(d.mappedPorts.contains(p.port));
            pick->setToolTip(QStringLiteral("Links com%1 in the ports folder to %2")
                                 .arg(p.port)
                                 .arg(d.linkTarget));
            connect(pick, &QAction::triggered, this,
                    [this, port = p.port, target = d.linkTarget] { mapPort(port, target); });
        }
        QAction *remove = sub->addAction(QStringLiteral("Remove mapping"));
        remove->setEnabled(p.removable);
        connect(remove, &QAction::triggered, this, [this, port = p.port] { unmapPort(port); });
        QAction *network = sub->addAction(QStringLiteral("Network port…"));
        connect(network, &QAction::triggered, this,
                [this, port = p.port] { mapNetworkPort(port); });
    }
    menu->popup(globalPos);
    return menu;
}

void Form_Comm::mappingChanged(int port, const QString &error)
{
    if (!error.isEmpty()) {
        m_mappingError = error;
        updatePortTips(true);
        reportError(error);
        return;
    }
    m_mappingError.clear();
    // The operator re-pointed the port in use: open what it names now, and stop waiting
    // for what it named before.
    const std::optional<qint16> inUse = MSComm1->CommPort();
    if (inUse && *inUse == port) {
        m_replug.cancel();
        OpenPort(PortArgument(qint16(port)));
    }
    updatePortTips(true);
}

void Form_Comm::mapPort(int port, const QString &linkTarget)
{
    mappingChanged(port, writePortMapping(port, linkTarget, userConfigHome()));
}

void Form_Comm::unmapPort(int port)
{
    mappingChanged(port, removePortMapping(port, userConfigHome()));
}

void Form_Comm::mapNetworkPort(int port)
{
    const QString config = userConfigHome();
    const PortMapping now = readPortMapping(port, config);
    const std::optional<QString> url = m_networkUrlPrompt(
        this, port, now.kind == PortMapping::Kind::Network ? now.target : QString());
    if (url)
        mappingChanged(port, writeNetworkPortMapping(port, *url, config));
}

bool Form_Comm::networkServerAnswers(const QString &url)
{
    if (!m_replugProbe) {
        m_replugProbe = new QTcpSocket(this);
        connect(m_replugProbe, &QTcpSocket::connected, this, [this] {
            m_replugServerUp = true;
            m_replugProbe->abort();
        });
    }
    if (m_replugServerUp) {
        m_replugServerUp = false;
        return true;
    }
    if (m_replugProbe->state() != QAbstractSocket::UnconnectedState) {
        if (m_replugProbeDeadline.hasExpired())
            m_replugProbe->abort(); // a host that does not answer; ask again next tick
        return false;
    }
    const auto parsed = parsePortUrl(url);
    if (const auto *u = std::get_if<PortUrl>(&parsed)) {
        m_replugProbeDeadline = QDeadlineTimer(3000);
        m_replugProbe->connectToHost(u->host, u->port);
    }
    return false;
}

void Form_Comm::replugTick()
{
    // A port lent to another program is not taken back behind its back.
    if (!m_replug.isWaiting() || m_releasedOnRequest) {
        m_replugServerUp = false;
        return;
    }
    const PortMapping now = readPortMapping(m_replug.port(), userConfigHome());
    if (!m_replug.due(now))
        return;
    // Opening a network port waits for its connection, which for a host that does not
    // answer would hold the window for seconds at every try: ask the server first, in the
    // background, and open once it has answered.
    if (now.kind == PortMapping::Kind::Network && !networkServerAnswers(now.target))
        return;
    // The settings the port had, not a text typed since and not yet applied.
    OpenPort(PortArgument(qint16(m_replug.port())), MSComm1->Settings());
    const bool ok = MSComm1->PortOpen().value_or(false);
    m_replug.reopened(ok);
    if (ok)
        reportError(m_replug.backMessage(MSComm1->devicePath()));
}
