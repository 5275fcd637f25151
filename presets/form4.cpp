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
    : m_module(module)
    , m_main(main)
{
    setObjectName(QStringLiteral("Form4"));
    setFont(windowFont());
    setWindowTitle(QStringLiteral("Presets"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowCloseButtonHint);
    setFixedSize(px(2895), px(5025));

    Label1 = new QLabel(QStringLiteral("Action"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(twips(525, 105, 1905, 330));
    Label1->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    const QFont bold = windowFont(12, true);
    Label1->setFont(bold);
    Label1->setAutoFillBackground(false);
    // Light text: the borrowed background is dark.
    QPalette titlePalette = Label1->palette();
    titlePalette.setColor(QPalette::WindowText, Qt::white);
    Label1->setPalette(titlePalette);

    Text1 = new QLineEdit(QStringLiteral("Untitled"), this);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setGeometry(twips(525, 525, 1905, 285));

    List1 = new QListWidget(this);
    List1->setObjectName(QStringLiteral("List1"));
    List1->setGeometry(twips(210, 945, 2430, 3375));
    List1->setSortingEnabled(false);
    List1->setSelectionMode(QAbstractItemView::SingleSelection);
    List1->viewport()->installEventFilter(this);
    setSpoken(Text1, QStringLiteral("Preset name"));
    setSpoken(List1, QStringLiteral("Presets"));

    Command1 = button(this, "Command1", QStringLiteral("Action"), twips(210, 4515, 750, 330));
    command3 = button(this, "command3", QStringLiteral("Delete"), twips(1050, 4515, 750, 330));
    Command2 = button(this, "Command2", QStringLiteral("&Cancel"), twips(1890, 4515, 750, 330));

    setTabOrder(Command1, command3);
    setTabOrder(command3, Command2);
    setTabOrder(Command2, Text1);
    setTabOrder(Text1, List1);
    Command1->setFocus();

    // The field's design text is not a change; every change from here on is.
    connect(Text1, &QLineEdit::textChanged, this, [this](const QString &text) {
        m_module.presetName = text;
    });
    connect(List1, &QListWidget::itemSelectionChanged, this, [this] {
        const QList<QListWidgetItem *> selected = List1->selectedItems();
        if (!selected.isEmpty())
            Text1->setText(selected.first()->text());
    });
    // A click on the entry already selected fills the field again after an edit.
    connect(List1, &QListWidget::itemClicked, this, [this](QListWidgetItem *item) {
        if (item->isSelected())
            Text1->setText(item->text());
    });
    connect(Command1, &QPushButton::clicked, this, &Form4::act);
    connect(command3, &QPushButton::clicked, this, &Form4::deleteSelected);
    connect(Command2, &QPushButton::clicked, this, &QDialog::reject);

    // Load step.
    setWindowTitle(m_main.caption());
    setWindowIcon(m_main.icon());
    setBackgroundPicture(this, m_main.backgroundPicture());
    for (PictureButton *b : {Command1, Command2, command3})
        b->setPicture(m_main.clearAllPicture());
    List1->addItems(listPresets(platform::presetFolder()));
    List1->setCurrentRow(-1);
    Text1->setText(m_module.presetName);
}

Form4::~Form4() = default;

void Form4::act()
{
    if (Command1->text() == QLatin1String("&Load"))
        loadPreset(m_module, m_main, Text1->text());
    else
        savePreset(m_module, m_main, Text1->text());
    accept(); // after a failure too: it has been reported
}

void Form4::deleteSelected()
{
    const QList<QListWidgetItem *> selected = List1->selectedItems();
    if (selected.isEmpty())
        return;
    QListWidgetItem *item = selected.first();
    if (const int err = deletePresetFile(presetPath(item->text()))) {
        showMessage(QStringLiteral("File Error#") + QString::number(err));
        return;
    }
    // Quietly, so that no neighbour becomes selected and fills the name field.
    const QSignalBlocker block(List1);
    delete List1->takeItem(List1->row(item));
    List1->clearSelection();
    List1->setCurrentRow(-1);
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
    if (watched == List1->viewport() && event->type() == QEvent::MouseButtonDblClick
        && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
        act();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace bellboard
