#include "CParamPage.h"

#include <QApplication>
#include <QComboBox>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <unordered_map>

#include "DialogUnits.h"
#include "OperatorMessages.h"
#include "VideoParam.h"

namespace strevo {

namespace {

// When a slider last sent while being moved. It belongs to the slider of the
// page class, so the dialog's page and the main window's page of one class
// share it, for the whole run.
struct DragSend {
    bool sent = false;
    uint32_t tick = 0;
};

std::unordered_map<uint32_t, DragSend>& DragSends() {
    static std::unordered_map<uint32_t, DragSend> sends;
    return sends;
}

DragSend& DragSendOf(int templateId, int sliderId) {
    return DragSends()[static_cast<uint32_t>(templateId) << 16 | static_cast<uint16_t>(sliderId)];
}

uint32_t SteadyTick() {
    using namespace std::chrono;
    return static_cast<uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

std::function<uint32_t()>& TickSource() {
    static std::function<uint32_t()> source = SteadyTick;
    return source;
}

// Writes in progress (a write blocks, but its failure message runs an event
// loop in which a held-back slider change must not start a second write).
int g_writeDepth = 0;

template <class T>
T* Control(QWidget* page, int id, int templateId) {
    if (id == 0)
        return nullptr;
    auto* w = qobject_cast<T*>(FindControl(page, id));
    if (!w)
        qFatal("template %d has no control %d of the kind its page table names", templateId, id);
    return w;
}

bool Contains(const std::vector<int>& values, int v) {
    return std::find(values.begin(), values.end(), v) != values.end();
}

}  // namespace

void CParamPage::SetTickSource(std::function<uint32_t()> source) {
    TickSource() = source ? std::move(source) : std::function<uint32_t()>(SteadyTick);
}

CParamPage::CParamPage(int templateId, const PageLayout& layout, QWidget* parent)
    : QWidget(parent), m_templateId(templateId), m_layout(layout) {}

CParamPage::~CParamPage() {
    // Child controls lose the focus while they are destroyed; by then there
    // is no page left to write for them.
    for (Row& row : m_rows) {
        for (QObject* watched : {static_cast<QObject*>(row.box), static_cast<QObject*>(row.list),
                                 row.list ? static_cast<QObject*>(row.list->lineEdit()) : nullptr})
            if (watched)
                watched->removeEventFilter(this);
        if (row.pending)
            row.pending->stop();
    }
}

void CParamPage::FinishTemplate() {
    ScaleDialogUnits(this, DefaultDialogFont());
    if (QWidget* title = FindControl(this, kTitleLabelId)) {
        QFont f = title->font();
        f.setFamilies({QStringLiteral("黑体"), QStringLiteral("SimHei"),
                       QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC")});
        f.setPointSize(18);
        title->setFont(f);
    }
    BindRows();
    WriteControls();
}

void CParamPage::BindRows() {
    m_rows.reserve(m_layout.rows.size());  // rows are captured by index, never moved
    for (const ParamRow& def : m_layout.rows) {
        Row row;
        row.def = &def;
        if (def.key && def.kind != RowKind::kShowBox) {
            row.field = FindVideoParamField(def.key);
            if (!row.field)
                qFatal("page %d: %s is not a record field", m_templateId, def.key);
        }
        row.label = Control<QWidget>(this, def.labelId, m_templateId);
        row.box = Control<QLineEdit>(this, def.boxId, m_templateId);
        row.slot = def.initial;
        row.index = def.initial;
        const size_t i = m_rows.size();
        if (def.kind == RowKind::kSlider) {
            row.slider = Control<QSlider>(this, def.ctrlId, m_templateId);
            m_quiet = true;
            row.slider->setRange(def.min, def.max);
            row.slider->setTickInterval(def.tick);
            m_quiet = false;
            connect(row.slider, &QSlider::valueChanged, this,
                    [this, i] { OnSliderChanged(m_rows[i]); });
            connect(row.slider, &QSlider::sliderPressed, this,
                    [this, i] { m_rows[i].movedWhileDown = false; });
            connect(row.slider, &QSlider::sliderReleased, this,
                    [this, i] { OnSliderReleased(m_rows[i]); });
            row.pending = new QTimer(this);
            row.pending->setSingleShot(true);
            connect(row.pending, &QTimer::timeout, this, [this, i] { OnSliderChanged(m_rows[i]); });
        } else if (def.kind == RowKind::kList) {
            row.list = Control<QComboBox>(this, def.ctrlId, m_templateId);
            connect(row.list, &QComboBox::activated, this, [this, i] { OnListChosen(m_rows[i]); });
            // The edit field takes text, but only a choice from the list counts:
            // typed text never becomes an item, completes to one or chooses one.
            row.list->setInsertPolicy(QComboBox::NoInsert);
            if (QLineEdit* edit = row.list->lineEdit()) {
                row.list->setCompleter(nullptr);
                row.list->installEventFilter(this);
                edit->installEventFilter(this);
            }
        }
        if (row.box && def.kind == RowKind::kSlider) {
            row.box->installEventFilter(this);
            connect(row.box, &QLineEdit::textEdited, this, [this, i] { m_rows[i].edited = true; });
        }
        m_rows.push_back(row);
        if (m_rows.back().slider)
            SetSliderQuietly(m_rows.back(), SlotPosition(m_rows.back()));
    }
}

void CParamPage::SetHost(IParamHost* host, bool mainWindow) {
    m_pHost = host;
    m_bMainWnd = mainWindow;
    if (QWidget* title = FindControl(this, kTitleLabelId))
        title->setVisible(mainWindow);
}

// ---------------------------------------------------------------------------
// Data exchange

bool CParamPage::ReadControls() {
    bool allRead = true;
    for (Row& row : m_rows) {
        if (row.box) {
            bool ok = false;
            const int v = row.box->text().trimmed().toInt(&ok, 10);
            if (ok) {
                row.slot = v;
            } else {
                // The box goes back to what its slot holds (and what will be
                // sent), so a refused text does not stay to be refused again.
                row.box->setText(QString::number(row.slot));
                ShowMessage("请输入一个整数。");
                allRead = false;
            }
        }
        if (row.list)
            row.index = row.list->currentIndex();
    }
    return allRead;
}

void CParamPage::WriteControls() {
    m_quiet = true;
    for (Row& row : m_rows) {
        if (row.box) {
            row.box->setText(QString::number(row.slot));
            row.edited = false;
        }
        if (row.list)
            row.list->setCurrentIndex(row.index);  // an index beyond the list selects nothing
    }
    m_quiet = false;
}

void CParamPage::SetBoxValue(int boxId, int value) {
    for (Row& row : m_rows)
        if (row.def->boxId == boxId)
            row.slot = value;
}

QComboBox* CParamPage::List(int ctrlId) const {
    for (const Row& row : m_rows)
        if (row.def->ctrlId == ctrlId)
            return row.list;
    return nullptr;
}

CParamPage::Row* CParamPage::RowOfControl(int ctrlId) {
    for (Row& row : m_rows)
        if (row.def->ctrlId == ctrlId)
            return &row;
    return nullptr;
}

CParamPage::Row* CParamPage::RowOfBox(const QObject* box) {
    for (Row& row : m_rows)
        if (row.box && row.box == box)
            return &row;
    return nullptr;
}

int CParamPage::SlotPosition(const Row& row) const {
    return row.slot / row.def->scale;
}

void CParamPage::SetSliderQuietly(Row& row, int position) {
    m_quiet = true;
    row.slider->setValue(position);  // out of range: the nearer end
    m_quiet = false;
}

// ---------------------------------------------------------------------------
// Showing a record

void CParamPage::ShowParams(const VideoParam& param) {
    for (Row& row : m_rows) {
        if (row.pending)
            row.pending->stop();
        if (!row.field)
            continue;
        const int value = GetFieldValue(param, *row.field);
        if (row.slider) {
            row.slot = value;
            SetSliderQuietly(row, SlotPosition(row));
        } else if (row.list) {
            if (const auto index = row.def->map.ToIndex(value))
                row.index = *index;
        }
    }
    WriteControls();
    for (const Row& row : m_rows)
        if (row.def->mode && row.field)
            EnableByMode(row.def->mode, GetFieldValue(param, *row.field));
}

void CParamPage::EnableByMode(const char* selector, int value) {
    if (!selector)
        return;
    for (const ModeRule& rule : m_layout.modes) {
        if (std::strcmp(rule.selector, selector) != 0)
            continue;
        bool enable = false;
        if (Contains(rule.on, value))
            enable = true;
        else if (Contains(rule.off, value))
            enable = false;
        else if (rule.other == ModeRule::kKeep)
            continue;
        else
            enable = rule.other == ModeRule::kEnable;
        Row* row = RowOfControl(rule.rowCtrlId);
        if (!row || row->unavailable)
            continue;
        for (QWidget* w : {row->label, static_cast<QWidget*>(row->slider),
                           static_cast<QWidget*>(row->list), static_cast<QWidget*>(row->box)})
            if (w)
                w->setEnabled(enable);
    }
}

void CParamPage::DisableRowsWithout(const std::function<bool(const char* key)>& hasSetting) {
    for (Row& row : m_rows) {
        if (!row.def->key || hasSetting(row.def->key))
            continue;
        row.unavailable = true;
        for (QWidget* w : {row.label, static_cast<QWidget*>(row.slider),
                           static_cast<QWidget*>(row.list), static_cast<QWidget*>(row.box)})
            if (w)
                w->setEnabled(false);
    }
}

bool CParamPage::RowDisabledForGood(const char* key) const {
    for (const Row& row : m_rows)
        if (row.def->key && std::strcmp(row.def->key, key) == 0)
            return row.unavailable;
    return false;
}

// ---------------------------------------------------------------------------
// Writes

int32_t CParamPage::SetParam(const char* key, int32_t value) {
    const std::string item = MakeVideoParamItem(key, value);
    int32_t result = 0;
    // The failure messages count as part of the write: a held-back slider
    // change that comes due while one is open waits until it is closed.
    ++g_writeDepth;
    if (m_pHost && !item.empty())
        result = m_pHost->SetVideoParamItem(item.c_str());
    if (result < 0)
        ShowMessage("设置失败！");
    --g_writeDepth;
    return result;
}

void CParamPage::SendSlider(Row& row, int position) {
    row.pending->stop();
    row.slot = position * row.def->scale;
    row.box->setText(QString::number(row.slot));
    SetParam(row.def->key, row.slot);
}

// Every position change the operator makes: a mouse drag, arrow and page
// keys, the wheel. A change that the throttle holds back is sent when the
// slider's window ends, if it still differs from what was sent.
void CParamPage::OnSliderChanged(Row& row) {
    if (m_quiet)
        return;
    if (row.slider->isSliderDown())
        row.movedWhileDown = true;
    const int position = row.slider->value();
    if (position == SlotPosition(row)) {
        row.pending->stop();
        return;
    }
    DragSend& last = DragSendOf(m_templateId, row.def->ctrlId);
    const uint32_t elapsed = TickSource()() - last.tick;
    if (g_writeDepth > 0 || (last.sent && elapsed < kDragIntervalMs)) {
        const uint32_t wait =
            last.sent && elapsed < kDragIntervalMs ? kDragIntervalMs - elapsed : kDragIntervalMs;
        row.pending->start(static_cast<int>(wait));
        return;
    }
    SendSlider(row, position);
    DragSendOf(m_templateId, row.def->ctrlId) = {true, TickSource()()};
}

// The final position of a drag, unthrottled, if a held-back change left it unsent.
void CParamPage::OnSliderReleased(Row& row) {
    if (!row.movedWhileDown)
        return;
    row.movedWhileDown = false;
    const int position = row.slider->value();
    if (position == SlotPosition(row)) {
        row.pending->stop();
        return;
    }
    SendSlider(row, position);
}

void CParamPage::CommitEdit() {
    for (Row& row : m_rows)
        if (row.edited && row.def->kind == RowKind::kSlider)
            OnBoxLeft(row);
}

void CParamPage::OnBoxLeft(Row& row) {
    row.edited = false;
    ReadControls();
    const int scale = row.def->scale;
    if (scale > 1)
        row.slot = row.slot / scale * scale;  // the camera takes whole steps of the scale
    row.pending->stop();
    if (m_layout.moveBeforeWrite)
        SetSliderQuietly(row, SlotPosition(row));
    SetParam(row.def->key, row.slot);  // as typed, even unchanged or beyond the slider
    if (!m_layout.moveBeforeWrite)
        SetSliderQuietly(row, SlotPosition(row));
    if (scale > 1)
        WriteControls();
}

void CParamPage::OnListChosen(Row& row) {
    const int previous = row.index;
    ReadControls();
    const int value = row.def->map.ToValue(row.index);
    const int32_t result = SetParam(row.def->key, value);
    if (!row.def->mode)
        return;
    if (result >= 0) {
        EnableByMode(row.def->mode, value);
    } else if (row.def->revertOnFailure) {
        row.index = previous;
        WriteControls();
    }
}

// ---------------------------------------------------------------------------
// Keyboard and focus

// Enter and Escape never reach the hosting dialog. Enter in a number box
// leaves the box, which sends its value.
void CParamPage::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (Row* row = RowOfBox(QApplication::focusWidget());
                row && row->def->kind == RowKind::kSlider)
                setFocus(Qt::OtherFocusReason);
            event->accept();
            return;
        case Qt::Key_Escape:
            event->accept();
            return;
        default:
            QWidget::keyPressEvent(event);
    }
}

// A list's edit field shows the current choice again whenever it is left,
// and Enter in it does nothing, so typed text can never choose an item.
bool CParamPage::FilterList(Row& row, QEvent* event) {
    const bool enter = event->type() == QEvent::KeyPress &&
                       (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Return ||
                        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Enter);
    if (!enter && event->type() != QEvent::FocusOut)
        return false;
    row.list->setEditText(row.list->itemText(row.list->currentIndex()));
    if (enter)
        event->accept();
    return enter;
}

bool CParamPage::eventFilter(QObject* watched, QEvent* event) {
    for (Row& row : m_rows)
        if (row.list && (watched == row.list || watched == row.list->lineEdit()))
            return FilterList(row, event) || QWidget::eventFilter(watched, event);
    if (event->type() == QEvent::FocusOut) {
        // A pop-up (the box's own menu) or another window taking the focus
        // does not leave the box. Nor does its page being hidden or shown
        // (another tab, the mode switch), which moves the focus without the
        // operator: only an edit not yet sent goes then.
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason) {
            if (Row* row = RowOfBox(watched); row && row->def->kind == RowKind::kSlider) {
                if (row->box->isVisible() || row->edited)
                    OnBoxLeft(*row);
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace strevo
