#include "presets/form4.h"

#include "app/dialogs.h"
#include "app/picturebutton.h"
#include "platform/programinfo.h"
#include "presets/presetfile.h"
#include "presets/presets.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QSignalBlocker>

namespace bellboard {

namespace {

QRect twips(int left, int top, int width, int height)
{
    return QRect(px(left), px(top), px(width), px(height));
}

PictureButton *button(QWidget *parent, const char *name, const QString &caption, const QRect &r)
{
    auto *b = new PictureButton(caption, parent);
    b->setObjectName(QLatin1String(name));
    b->setGeometry(r);
    // No default button: Enter in the name field does nothing, Enter on a button presses it.
    b->setAutoDefault(false);
    b->setDefault(false);
    return b;
}

} // namespace

Form4::Form4(Module1 &module, MainWindow &main)
    : QDialog(main.boardWindow()), m_module(module), m_main(main)
{
    setObjectName(QStringLiteral("Form4"));
    setFont(windowFont());
    setWindowTitle(QStringLiteral("Presets"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowCloseButtonHint);
    setFixedSize(px(2895), px(5025));

    modeLabel = new QLabel(QStringLiteral("Action"), this);
    modeLabel->setObjectName(QStringLiteral("Label1"));
    modeLabel->setGeometry(twips(525, 105, 1905, 330));
    modeLabel->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    const QFont bold = windowFont(12, true);
    modeLabel->setFont(bold);
    modeLabel->setAutoFillBackground(false);
    // Light text: the borrowed background is dark.
    QPalette titlePalette = modeLabel->palette();
    titlePalette.setColor(QPalette::WindowText, Qt::white);
    modeLabel->setPalette(titlePalette);

    nameField = new QLineEdit(QStringLiteral("Untitled"), this);
    nameField->setObjectName(QStringLiteral("Text1"));
    nameField->setGeometry(twips(525, 525, 1905, 285));

    presetList = new QListWidget(this);
    presetList->setObjectName(QStringLiteral("List1"));
    presetList->setGeometry(twips(210, 945, 2430, 3375));
    presetList->setSortingEnabled(false);
    presetList->setSelectionMode(QAbstractItemView::SingleSelection);
    presetList->viewport()->installEventFilter(this);
    setSpoken(nameField, QStringLiteral("Preset name"));
    setSpoken(presetList, QStringLiteral("Presets"));

    actionButton = button(this, "Command1", QStringLiteral("Action"), twips(210, 4515, 750, 330));
    deleteButton = button(this, "command3", QStringLiteral("Delete"), twips(1050, 4515, 750, 330));
    cancelButton = button(this, "Command2", QStringLiteral("&Cancel"), twips(1890, 4515, 750, 330));

    setTabOrder(actionButton, deleteButton);
    setTabOrder(deleteButton, cancelButton);
    setTabOrder(cancelButton, nameField);
    setTabOrder(nameField, presetList);
    actionButton->setFocus();

    // The field's design text is not a change; every change from here on is.
    connect(nameField, &QLineEdit::textChanged, this,
            [this](const QString &text) { m_module.presetName = text; });
    connect(presetList, &QListWidget::itemSelectionChanged, this, [this] {
        const QList<QListWidgetItem *> selected = presetList->selectedItems();
        if (!selected.isEmpty())
            nameField->setText(selected.first()->text());
    });
    // A click on the entry already selected fills the field again after an edit.
    connect(presetList, &QListWidget::itemClicked, this, [this](QListWidgetItem *item) {
        if (item->isSelected())
            nameField->setText(item->text());
    });
    connect(actionButton, &QPushButton::clicked, this, &Form4::act);
    connect(deleteButton, &QPushButton::clicked, this, &Form4::deleteSelected);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);

    // Load step.
    setWindowTitle(m_main.caption());
    setWindowIcon(m_main.icon());
    setBackgroundPicture(this, m_main.backgroundPicture());
    for (PictureButton *b : {actionButton, cancelButton, deleteButton})
        b->setPicture(m_main.clearAllPicture());
    presetList->addItems(listPresets(platform::presetFolder()));
    presetList->setCurrentRow(-1);
    nameField->setText(m_module.presetName);
}

Form4::~Form4() = default;

void Form4::act()
{
    if (actionButton->text() == QLatin1String("&Load"))
        loadPreset(m_module, m_main, nameField->text());
    else
        savePreset(m_module, m_main, nameField->text());
    accept(); // after a failure too: it has been reported
}

void Form4::deleteSelected()
{
    const QList<QListWidgetItem *> selected = presetList->selectedItems();
    if (selected.isEmpty())
        return;
    QListWidgetItem *item = selected.first();
    if (const int err = deletePresetFile(presetPath(item->text()))) {
        showMessage(QStringLiteral("File Error#") + QString::number(err));
        return;
    }
    // Quietly, so that no neighbour becomes selected and fills the name field.
    const QSignalBlocker block(presetList);
    delete presetList->takeItem(presetList->row(item));
    presetList->clearSelection();
    presetList->setCurrentRow(-1);
}

void Form4::keyPressEvent(QKeyEvent *event)
{
    // No default or cancel button: Enter presses the focused button only, Esc nothing.
    if (!pressFocusedButton(this, event))
        QDialog::keyPressEvent(event);
}

bool Form4::eventFilter(QObject *watched, QEvent *event)
{
    // A double click anywhere on the list acts, as the action button does.
    if (watched == presetList->viewport() && event->type() == QEvent::MouseButtonDblClick
        && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
        act();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace bellboard
