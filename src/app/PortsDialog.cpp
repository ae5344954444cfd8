#include "app/PortsDialog.h"

#include "controls/Widgets.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace kvx {

namespace {

constexpr int kTargetRole = Qt::UserRole + 1;
constexpr int kDeviceRole = Qt::UserRole + 2; // index into the devices found, or -1

} // namespace

TFormPorts::TFormPorts(const PortTargets &current, DeviceSource devices, QWidget *parent)
    : QDialog(parent)
    , m_devices(std::move(devices))
{
    setObjectName(QStringLiteral("FormPorts"));
    setWindowTitle(tr("Ports"));
    m_found = m_devices ? m_devices() : QList<SerialDevice>();

    LblOpen = new QLabel(this);
    LblOpen->setObjectName(QStringLiteral("LblOpen"));
    LblOpen->setWordWrap(true);
    setOpenPort(QString(), QString());

    auto *grid = new QGridLayout;
    for (int p = 0; p < kMappedPorts; ++p) {
        auto *name = new QLabel(QStringLiteral("COM%1:").arg(p + 1), this);
        auto *combo = new QComboBox(this);
        combo->setObjectName(QStringLiteral("CbTarget%1").arg(p + 1));
        combo->setEditable(true);
        combo->setInsertPolicy(QComboBox::NoInsert);
        combo->setMinimumContentsLength(48);
        setHint(combo,
                tr("Choose the device COM%1 opens, a simulated board, or type a path.").arg(p + 1));
        auto *note = new QLabel(this);
        note->setObjectName(QStringLiteral("LblNote%1").arg(p + 1));
        note->setStyleSheet(QStringLiteral("color: #c00000"));
        note->setWordWrap(true);
        name->setBuddy(combo);
        grid->addWidget(name, 2 * p, 0);
        grid->addWidget(combo, 2 * p, 1);
        grid->addWidget(note, 2 * p + 1, 1);
        CbTarget[std::size_t(p)] = combo;
        LblNote[std::size_t(p)] = note;
        fill(p, current[std::size_t(p)]);
        connect(combo, &QComboBox::currentIndexChanged, this, [this, p] { showNote(p); });
        connect(combo, &QComboBox::editTextChanged, this, [this, p] { showNote(p); });
    }

    auto *buttons = new QDialogButtonBox(this);
    BtnRefresh = buttons->addButton(tr("&Refresh"), QDialogButtonBox::ActionRole);
    BtnRefresh->setObjectName(QStringLiteral("BtnRefresh"));
    setHint(BtnRefresh, tr("Lists the serial devices plugged in since."));
    BtnOK = buttons->addButton(QDialogButtonBox::Ok);
    BtnCancel = buttons->addButton(QDialogButtonBox::Cancel);
    connect(BtnRefresh, &QPushButton::clicked, this, [this] { BtnRefreshClick(); });
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    // An editable list keeps Enter to itself; typing a path and pressing Enter means "done".
    for (QComboBox *combo : CbTarget)
        connect(combo->lineEdit(), &QLineEdit::returnPressed, BtnOK, &QPushButton::click);
    BtnOK->setDefault(true);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(LblOpen);
    layout->addLayout(grid);
    layout->addWidget(buttons);
}

void TFormPorts::setOpenPort(const QString &portName, const QString &device)
{
    if (portName.isEmpty()) {
        LblOpen->setText(tr("No port is open now; \"Open\" uses what is chosen here."));
        return;
    }
    const QString opened = device.isEmpty() ? portName : tr("%1 (%2)").arg(portName, device);
    LblOpen->setText(
        tr("%1 is open now; a change to it takes effect when it is opened again.").arg(opened));
}

void TFormPorts::fill(int port, const QString &target)
{
    QComboBox *combo = CbTarget[std::size_t(port)];
    const QSignalBlocker quiet(combo);
    combo->clear();
    combo->addItem(tr("Default (%1)").arg(defaultTarget(port)));
    combo->setItemData(0, QString(), kTargetRole);
    combo->setItemData(0, -1, kDeviceRole);
    for (int i = 0; i < m_found.size(); ++i) {
        const SerialDevice &d = m_found.at(i);
        QString text = deviceText(d);
        if (!d.accessible)
            text += tr(" \u2013 no access");
        combo->addItem(text);
        combo->setItemData(combo->count() - 1, d.target(), kTargetRole);
        combo->setItemData(combo->count() - 1, i, kDeviceRole);
        combo->setItemData(combo->count() - 1, d.target(), Qt::ToolTipRole);
    }
    for (const QString &sim : simulatedTargets()) {
        combo->addItem(tr("%1 \u2013 simulated board").arg(sim));
        combo->setItemData(combo->count() - 1, sim, kTargetRole);
        combo->setItemData(combo->count() - 1, -1, kDeviceRole);
    }
    int chosen = target.isEmpty() ? 0 : -1;
    for (int i = 1; i < combo->count() && chosen < 0; ++i) {
        const int device = combo->itemData(i, kDeviceRole).toInt();
        // A device named by its node matches its stable name as well.
        if (combo->itemData(i, kTargetRole).toString() == target ||
            (device >= 0 && m_found.at(device).node == target))
            chosen = i;
    }
    if (chosen >= 0) {
        combo->setCurrentIndex(chosen);
    } else {
        combo->setCurrentIndex(-1);
        combo->setEditText(target); // typed by hand, or a device not plugged in now
    }
    showNote(port);
}

void TFormPorts::showNote(int port)
{
    QComboBox *combo = CbTarget[std::size_t(port)];
    const int i = combo->findText(combo->currentText());
    const int device = i >= 0 ? combo->itemData(i, kDeviceRole).toInt() : -1;
    LblNote[std::size_t(port)]->setText(device >= 0 ? accessRemedy(m_found.at(device)) : QString());
    LblNote[std::size_t(port)]->setVisible(!LblNote[std::size_t(port)]->text().isEmpty());
}

PortTargets TFormPorts::targets() const
{
    PortTargets t;
    for (int p = 0; p < kMappedPorts; ++p) {
        const QComboBox *combo = CbTarget[std::size_t(p)];
        const QString text = combo->currentText();
        const int i = combo->findText(text);
        t[std::size_t(p)] = i >= 0 ? combo->itemData(i, kTargetRole).toString() : text.trimmed();
    }
    return t;
}

void TFormPorts::BtnRefreshClick()
{
    const PortTargets chosen = targets();
    m_found = m_devices ? m_devices() : QList<SerialDevice>();
    for (int p = 0; p < kMappedPorts; ++p)
        fill(p, chosen[std::size_t(p)]);
}

} // namespace kvx
