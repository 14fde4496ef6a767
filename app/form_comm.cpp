#include "app/form_comm.h"

#include "app/clicklabel.h"
#include "app/ledshape.h"
#include "capture/form_outputcfg.h"
#include "capture/savedialog.h"
#include "port/serialcontrol.h"
#include "receive/lineview.h"
#include "transmit/opendialog.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include <cmath>
#include <cstdio>

namespace {

QFont sansFont(qreal points, bool bold = false)
{
    QFont f;
    f.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"),
                   QStringLiteral("Arimo"), QStringLiteral("Arial"),
                   QStringLiteral("DejaVu Sans")});
    f.setPointSizeF(points);
    f.setBold(bold);
    return f;
}

// The 32 x 32 picture at the top right: a nine-pin serial connector.
QPixmap connectorPicture()
{
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath shell;
    shell.moveTo(2, 9);
    shell.lineTo(30, 9);
    shell.lineTo(26, 24);
    shell.lineTo(6, 24);
    shell.closeSubpath();
    p.setPen(QPen(QColor(40, 40, 40), 1.5));
    p.setBrush(QColor(170, 180, 195));
    p.drawPath(shell);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(30, 60, 140));
    for (int i = 0; i < 5; ++i)
        p.drawEllipse(QPointF(7.0 + i * 4.5, 14.0), 1.5, 1.5);
    for (int i = 0; i < 4; ++i)
        p.drawEllipse(QPointF(9.25 + i * 4.5, 19.5), 1.5, 1.5);
    return pm;
}

} // namespace

Form_Comm::Form_Comm(std::unique_ptr<SerialControl> serial, std::unique_ptr<SaveDialog> saveDialog,
                     std::unique_ptr<OptionsPrompt> optionsPrompt, QWidget *parent,
                     const StartUp &startUp)
    : QWidget(parent)
    , MSComm1(std::move(serial))
    , CommonDialog1(std::move(saveDialog))
    , m_optionsPrompt(optionsPrompt ? std::move(optionsPrompt)
                                    : std::make_unique<OutputCfgPrompt>())
    , m_clock([] { return QDateTime::currentMSecsSinceEpoch(); })
    , LastReceiveTime(QDateTime(QDate(1899, 12, 30), QTime(0, 0)).toMSecsSinceEpoch())
{
    setObjectName(QStringLiteral("Form_Comm"));
    buildLayout();

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(500);
    connect(Timer1, &QTimer::timeout, this, &Form_Comm::Timer1_Timer);
    Timer1->start();

    connect(com_Close, &QPushButton::clicked, this, &Form_Comm::com_Close_Click);
    setupPort();
    setupReceive();
    setupTransmit();
    setupCapture();
    setupStatistics();
    setupPanes();
    setupPlot();

    // Form_Load opens the control's port with the box's text.
    if (startUp.port)
        MSComm1->setCommPort(*startUp.port);
    if (startUp.settings)
        txt_Settings->setText(*startUp.settings);
    Form_Load();
}

Form_Comm::~Form_Comm() = default;

int Form_Comm::twips(int value) const
{
    // 1440 twips to the inch; logical DPI already includes the screen's scaling.
    const QScreen *s = screen();
    const qreal dpi = s ? s->logicalDotsPerInchY() : 96.0;
    return int(std::lround(value * dpi / 1440.0));
}

void Form_Comm::buildLayout()
{
    setWindowTitle(QStringLiteral("Form1"));
    // Liberation Sans has Arial's metrics; at 8 pt (11 px) three captions are clipped by
    // their twips-sized boxes, at 7.5 pt (10 px) every caption fits.
    setFont(sansFont(7.5));
    setFixedSize(twips(12660), twips(11865));

    auto place = [this](QWidget *w, const char *name, int l, int t, int wd, int h) {
        w->setObjectName(QString::fromLatin1(name));
        w->setGeometry(twips(l), twips(t), twips(wd), twips(h));
    };
    auto label = [&](QWidget *parentWidget, const char *name, const char *text, int l, int t,
                     int wd, int h) {
        auto *lbl = new QLabel(QString::fromLatin1(text), parentWidget);
        place(lbl, name, l, t, wd, h);
        return lbl;
    };
    auto frame = [&](const char *name, const char *title, int l, int t, int wd, int h) {
        auto *g = new QGroupBox(QString::fromLatin1(title), this);
        place(g, name, l, t, wd, h);
        return g;
    };

    Label1 = label(this, "Label1",
                   "This is a test of the MSComm control.  Print a file and check the status of "
                   "the controls events and properties",
                   120, 360, 10215, 375);
    Label1->setFont(sansFont(8.25, true));
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    Image1 = new QLabel(this);
    place(Image1, "Image1", 12000, 120, 480, 480);
    Image1->setPixmap(connectorPicture());
    Image1->setAccessibleName(QStringLiteral("serial connector"));

    Line1 = new QFrame(this);
    Line1->setFrameShape(QFrame::HLine);
    Line1->setFrameShadow(QFrame::Sunken);
    place(Line1, "Line1", 120, 600 - 15, 12480 - 120, 30);

    Frame3 = frame("Frame3", "Extended Properties", 120, 810, 8895, 4305);
    Frame1 = frame("Frame1", "Send Commands", 120, 5190, 8895, 1095);
    Frame2 = frame("Frame2", "Input/Output", 120, 6330, 8895, 4665);
    Frame4 = frame("Frame4", "Property Listing", 9120, 840, 3375, 9375);

    // Frame3: reset button, port list, settings, property panel.
    cmd_reset = new QPushButton(QStringLiteral("Reset Comm"), Frame3);
    place(cmd_reset, "cmd_reset", 210, 270, 1725, 345);

    // Name then value, row by row: the order in which a screen reader walks them.
    for (const PropertyPanel::RowEntry &row : PropertyPanel::kRows) {
        const QString caption = QString::fromLatin1(row.caption);
        const qint16 index = PropertyPanel::nameIndex(row.row);
        auto *name = new ClickLabel(caption, Frame3);
        const QByteArray nameObject = "lblfield_" + QByteArray::number(index);
        place(name, nameObject.constData(), row.nameLeft, row.top, row.nameWidth,
              PropertyPanel::kNameHeight);
        lblfield[index] = name;
        connect(name, &ClickLabel::clicked, this, [this, index] { lblfield_Click(index); });

        const int k = PropertyPanel::valueIndex(row.row);
        auto *value = new QLabel(Frame3);
        value->setAutoFillBackground(true);
        QPalette pal = value->palette();
        pal.setColor(QPalette::Window, Qt::white);
        value->setPalette(pal);
        value->setFrameShape(QFrame::Box);
        value->setFrameShadow(QFrame::Plain);
        const QByteArray valueObject = "lbl_val_" + QByteArray::number(k);
        place(value, valueObject.constData(), row.valueLeft, row.top, PropertyPanel::kValueWidth,
              PropertyPanel::kValueHeight);
        // The caption describes the cell; an accessible name would hide the value it shows.
        value->setAccessibleDescription(caption);
        lbl_val[k] = value;
    }

    cbo_Port = new QComboBox(Frame3);
    cbo_Port->setEditable(true);
    cbo_Port->addItems({QStringLiteral("COM 1"), QStringLiteral("COM 2"), QStringLiteral("COM 3"),
                        QStringLiteral("COM 4"), QStringLiteral("COM 5")});
    cbo_Port->setCurrentIndex(-1);
    cbo_Port->setEditText(QString());
    cbo_Port->setInsertPolicy(QComboBox::NoInsert);
    cbo_Port->setAccessibleName(QStringLiteral("CommPort"));
    place(cbo_Port, "cbo_Port", 1440, 720, 1215, 315);

    txt_Settings = new QLineEdit(QStringLiteral("9600,n,8,1"), Frame3);
    txt_Settings->setAccessibleName(QStringLiteral("Settings"));
    place(txt_Settings, "txt_Settings", 4200, 720, 945, 300);

    // Frame1: profile, monitoring, command, suffix, indicators.
    Label4 = label(Frame1, "Label4", "Instrument", 210, 270, 885, 255);
    cbo_APP = new QComboBox(Frame1);
    cbo_APP->addItems({QStringLiteral("<select application>"), QStringLiteral("Analex PQM"),
                       QStringLiteral("Houillon")});
    cbo_APP->setCurrentIndex(-1);
    place(cbo_APP, "cbo_APP", 1200, 270, 2835, 315);
    Label4->setBuddy(cbo_APP);

    chk_CollectData = new QCheckBox(QStringLiteral("Monitor Port"), Frame1);
    place(chk_CollectData, "chk_CollectData", 4290, 240, 2175, 255);

    Label2 = label(Frame1, "Label2", "Send", 240, 660, 615, 255);
    txt_send = new QLineEdit(Frame1);
    place(txt_send, "txt_send", 1170, 615, 1995, 315);
    Label2->setBuddy(txt_send);
    cmd_Send = new QPushButton(QStringLiteral("Send"), Frame1);
    place(cmd_Send, "cmd_Send", 3270, 615, 735, 315);

    Label3 = label(Frame1, "Label3", "Command Suffix ", 3960, 660, 1455, 255);
    Label3->setAlignment(Qt::AlignRight | Qt::AlignTop);
    cbo_SuffixCommand = new QComboBox(Frame1);
    cbo_SuffixCommand->addItems({QStringLiteral("<select suffix>"), QStringLiteral("CrLf"),
                                 QStringLiteral("EOL"), QStringLiteral("<STX>/<EOT>"),
                                 QStringLiteral("<SYN>"), QStringLiteral("<CR><LF>")});
    cbo_SuffixCommand->setCurrentIndex(-1);
    place(cbo_SuffixCommand, "cbo_SuffixCommand", 5520, 600, 1455, 315);
    Label3->setBuddy(cbo_SuffixCommand);

    Label13 = label(Frame1, "Label13", "Send", 7800, 200, 375, 255);
    LED_std = new LedShape(QStringLiteral("Send"), Frame1);
    place(LED_std, "LED_std", 7800, 455, 195, 195);
    Label12 = label(Frame1, "Label12", "Rec", 8280, 200, 375, 255);
    LED_data = new LedShape(QStringLiteral("Rec"), Frame1);
    place(LED_data, "LED_data", 8280, 455, 195, 195);

    // Frame2: scratch area and received data.
    txt_in = new QPlainTextEdit(Frame2);
    txt_in->setLineWrapMode(QPlainTextEdit::NoWrap);
    txt_in->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txt_in->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txt_in->setTabChangesFocus(true);
    txt_in->setAccessibleName(QStringLiteral("Scratch area"));
    place(txt_in, "txt_in", 120, 240, 8655, 2295);

    txt_out = new LineView(Frame2);
    txt_out->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txt_out->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txt_out->setAccessibleName(QStringLiteral("Received data"));
    place(txt_out, "txt_out", 120, 2610, 8655, 1965);

    // Frame4: the character log.
    txt_bffr = new LineView(Frame4);
    txt_bffr->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    {
        QFont f;
        f.setFamilies({QStringLiteral("Verdana"), QStringLiteral("DejaVu Sans")});
        f.setPointSizeF(9);
        txt_bffr->setFont(f);
    }
    txt_bffr->setAccessibleName(QStringLiteral("Character log"));
    place(txt_bffr, "txt_bffr", 120, 240, 3135, 9015);

    // Bottom row.
    com_Close = new QPushButton(QStringLiteral("&Close"), this);
    place(com_Close, "com_Close", 240, 11220, 1215, 375);
    chk_file = new QCheckBox(QStringLiteral("output to file"), this);
    place(chk_file, "chk_file", 2520, 11340, 1335, 255);
    lbl_filename = new QLabel(this);
    lbl_filename->setFrameShape(QFrame::Panel);
    lbl_filename->setFrameShadow(QFrame::Sunken);
    lbl_filename->setAutoFillBackground(true);
    lbl_filename->setBackgroundRole(QPalette::Button);
    lbl_filename->setAccessibleName(QStringLiteral("No capture file"));
    lbl_filename->setAccessibleDescription(QStringLiteral("Capture file"));
    place(lbl_filename, "lbl_filename", 3960, 11340, 8175, 375);

    // Focus order.
    QWidget *order[] = {com_Close,    txt_in,   txt_out,        chk_file,          txt_send,
                        cmd_Send,     cbo_Port, txt_bffr,       cbo_SuffixCommand, cmd_reset,
                        txt_Settings, cbo_APP,  chk_CollectData};
    for (size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);
    com_Close->setFocus();
}

void Form_Comm::Form_Load()
{
    cbo_SuffixCommand->setCurrentIndex(0);
    cbo_APP->setCurrentIndex(0);
    cbo_APP_Click(); // selecting from code raises the list's click, nested
    LineMode = false;
    FrameBuffer.clear();
    m_capture.setCaptureEnabled(chk_file->isChecked());
    const std::optional<qint16> port = MSComm1->CommPort();
    OpenPort(PortArgument(port.value_or(qint16(4))));
    RefreshPropertyPanel();
}

void Form_Comm::Form_Unload()
{
    stopSending(QStringLiteral("Stopped when the window closed"), false);
    // Closes the stream and releases it and the file service; a failed close cannot stop
    // the window from closing.
    (void)m_capture.stop();
}

void Form_Comm::setLabelText(QLabel *label, const QString &text)
{
    if (label->text() != text)
        label->setText(text);
}

void Form_Comm::closeEvent(QCloseEvent *event)
{
    Form_Unload();
    event->accept();
}

void Form_Comm::com_Close_Click()
{
    close();
}

void Form_Comm::setClock(std::function<QDateTime()> clock)
{
    m_clock = [clock = std::move(clock)] { return clock().toMSecsSinceEpoch(); };
}

void Form_Comm::reportError(const QString &text)
{
    std::fprintf(stderr, "commtest: %s\n", qPrintable(text));
    if (!m_errorBox) {
        m_errorBox = new QMessageBox(QMessageBox::Warning, QStringLiteral("commtest"), text,
                                     QMessageBox::Ok, this);
        m_errorBox->setObjectName(QStringLiteral("errorBox"));
        m_errorBox->setWindowModality(Qt::NonModal);
    } else if (m_errorBox->isVisible()) {
        // One box at a time: the newest error replaces the text shown.
        m_errorBox->setText(text);
        return;
    }
    m_errorBox->setText(text);
    m_errorBox->show();
}

QString Form_Comm::shownError() const
{
    return m_errorBox && m_errorBox->isVisible() ? m_errorBox->text() : QString();
}
