#include "audio/forms/MixerLineControl.h"

#include "ui/AppResources.h"
#include "ui/QNHints.h"

#include <QApplication>
#include <QCursor>
#include <QLabel>
#include <QMouseEvent>
#include <QProgressBar>
#include <QTextLayout>
#include <QScrollBar>

#include <algorithm>
#include <cmath>

std::string DevicePictureName(const TMMAudioIO& device) {
    // A monitor records what its playback device plays: the "stereo mix" of the system.
    if (device.Kind() == TWaveKind::In && device.Caps().IsMonitor) return "MMStereoMix";
    return device.DeviceBitmapName();
}

// --- TMixerPanel -------------------------------------------------------------------------

TMixerPanel::TMixerPanel(TMixerLineControl& column, const std::string& hintText)
    : QFrame(column.Content()), FColumn(column) {
    FRedirector = std::make_unique<TAudioRedirector>(column.Driver());
    FRedirector->SetPCMFormat(Mono16bit11025Hz);
    FRouter = std::make_unique<TMMAudioRouter>(column.Driver(), column.MainThread());

    setFrameStyle(QFrame::Panel | QFrame::Raised);
    setAutoFillBackground(true);
    resize(PanelWidth, PanelHeight);
    SetHighlighted(false);

    Image = new QLabel(this);
    Image->setObjectName("Image");
    Memo = new QLabel(this);
    Memo->setObjectName("Memo");
    // The name field: no border, the panel's colour, bold, neither editable nor focusable.
    QFont bold = Memo->font();
    bold.setBold(true);
    Memo->setFont(bold);
    Memo->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Memo->setFocusPolicy(Qt::NoFocus);
    Memo->setTextInteractionFlags(Qt::NoTextInteraction);
    Memo->setTextFormat(Qt::PlainText);  // a device name is text, whatever it holds
    ProgressBar = new QProgressBar(this);
    ProgressBar->setObjectName("ProgressBar");
    ProgressBar->setRange(0, 100);
    ProgressBar->setValue(0);
    ProgressBar->setTextVisible(false);

    const std::string hint = std::string(BrevantaHelpURL) + "|" + hintText;
    for (QWidget* w : {static_cast<QWidget*>(this), static_cast<QWidget*>(Image), static_cast<QWidget*>(Memo),
                       static_cast<QWidget*>(ProgressBar)}) {
        SetHint(w, hint);
        column.WatchControl(w);
    }
}

TMixerPanel::~TMixerPanel() {
    // Whatever the router still reports must not reach the controls being destroyed.
    FRouter->AudioIn().SetOnLevel(nullptr);
    FRouter->AudioOut().SetOnLevel(nullptr);
    FRouter->OnStopped = nullptr;
    FRouter.reset();
}

void TMixerPanel::Place(QWidget* child, const QRect& designRect, bool anchorLeft, bool anchorRight) {
    FAnchored.push_back({child, designRect, anchorLeft, anchorRight});
    ApplyAnchors();
}

void TMixerPanel::ApplyAnchors() {
    const int grow = width() - PanelWidth;
    for (const TAnchored& a : FAnchored) {
        QRect r = a.Design;
        if (a.Left && a.Right) r.setWidth(std::max(0, r.width() + grow));
        else if (a.Right) r.moveLeft(r.left() + grow);
        a.Control->setGeometry(r);
    }
}

void TMixerPanel::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    ApplyAnchors();
    FitName();
}

void TMixerPanel::LoadDeviceBitmap(const TMMAudioIO& device, int size) {
    FPictureName = DevicePictureName(device);
    const QIcon icon = ResourceIcon(QString::fromStdString(FPictureName));
    Image->setPixmap(icon.pixmap(QSize(size, size), devicePixelRatioF()));
}

std::string TMixerPanel::DeviceIdent() const {
    const TWaveCaps& caps = Kind() == TWaveKind::In ? FRouter->AudioIn().Caps() : FRouter->AudioOut().Caps();
    return caps.Ident.empty() ? caps.ProductName : caps.Ident;
}

std::string TMixerPanel::DeviceName() const { return FDeviceName; }

void TMixerPanel::SetDeviceName(const std::string& name) {
    FDeviceName = name;
    FitName();
}

void TMixerPanel::FitName() {
    const QString text = QString::fromStdString(FDeviceName);
    const QFontMetrics metrics(Memo->font());
    const int width = std::max(1, Memo->width());
    const int maxLines = std::max(1, Memo->height() / std::max(1, metrics.lineSpacing()));
    QTextLayout layout(text, Memo->font());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    QStringList lines;
    int cut = -1;  // where the text that does not fit begins
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        if (lines.size() == maxLines - 1) {
            cut = line.textStart();
            break;
        }
        lines << text.mid(line.textStart(), line.textLength()).trimmed();
    }
    layout.endLayout();
    if (cut >= 0) lines << metrics.elidedText(text.mid(cut).trimmed(), Qt::ElideRight, width);
    Memo->setText(lines.join('\n'));
}

void TMixerPanel::SetLevel(TMMAudioIO&, int level) { ProgressBar->setValue(std::clamp(level, 0, 100)); }

int TMixerPanel::Level() const { return ProgressBar->value(); }

void TMixerPanel::SetHighlighted(bool highlighted) {
    FHighlighted = highlighted;
    QPalette pal = palette();
    const QPalette app = QApplication::palette();
    pal.setColor(QPalette::Window, highlighted ? app.color(QPalette::HighlightedText) : app.color(QPalette::Button));
    setPalette(pal);
}

// --- TMixerLeftPanel ---------------------------------------------------------------------

TMixerLeftPanel::TMixerLeftPanel(TMixerLineControl& column) : TMixerPanel(column, "Drag to Audio Out - F1 for help.") {
    setObjectName("MixerLeftPanel");
    Image->setScaledContents(true);
    Place(Image, QRect(10, 12, 51, 51), true, false);
    Place(Memo, QRect(78, 0, 88, 73), true, true);
    Place(ProgressBar, QRect(179, 5, 105, 17), false, true);
}

TMixerLeftPanel::~TMixerLeftPanel() {
    Router().AudioIn().SetOnLevel(nullptr);
    Router().OnStopped = nullptr;
    Router().Stop();
}

void TMixerLeftPanel::SetDevice(int deviceNumber) {
    DeviceIndex = deviceNumber;
    // The level meter: the recording side alone.
    Router().Route(deviceNumber, -1, Mono16bit11025Hz);
    Router().AudioIn().SetOnLevel([this](TMMAudioIO& sender, int level) { SetLevel(sender, level); });
    Router().AudioIn().SetDevice(deviceNumber);
    Redirector().Input().SetDeviceID(deviceNumber);
    SetDeviceName(Redirector().Input().DeviceName());
    LoadDeviceBitmap(Router().AudioIn(), 51);
    Router().OnStopped = [this](TMMAudioRouter&, const std::string& reason) {
        if (Column().OnPanelStopped) Column().OnPanelStopped(*this, reason);
    };
}

void TMixerLeftPanel::Renumber(int deviceNumber) {
    DeviceIndex = deviceNumber;
    Router().AudioIn().SetDevice(deviceNumber);
    Redirector().Input().SetDeviceID(deviceNumber);
    SetDeviceName(Redirector().Input().DeviceName());
}

// --- TMixerRightPanel --------------------------------------------------------------------

TMixerRightPanel::TMixerRightPanel(TMixerLineControl& column)
    : TMixerPanel(column, "Drag an Audio In here - F1 for help.") {
    setObjectName("MixerRightPanel");
    // Not stretched: the picture keeps its size at the top left of its place.
    Image->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Place(Image, QRect(214, 12, 73, 73), true, false);
    Place(Memo, QRect(125, 0, 88, 73), true, true);
    Place(ProgressBar, QRect(12, 7, 105, 17), true, false);
}

void TMixerRightPanel::SetDevice(int deviceNumber) {
    DeviceIndex = deviceNumber;
    Router().AudioOut().SetDevice(deviceNumber);
    Redirector().Output().SetDeviceID(deviceNumber);
    SetDeviceName(Redirector().Output().DeviceName());
    LoadDeviceBitmap(Router().AudioOut(), 64);
}

void TMixerRightPanel::Renumber(int deviceNumber) {
    DeviceIndex = deviceNumber;
    Router().AudioOut().SetDevice(deviceNumber);
    Redirector().Output().SetDeviceID(deviceNumber);
    SetDeviceName(Redirector().Output().DeviceName());
}

// --- TMixerLineControl -------------------------------------------------------------------

TMixerLineControl::TMixerLineControl(TWaveDriver& driver, IMainThreadQueue& mainThread, QWidget* owner)
    : QScrollArea(owner), FDriver(driver), FMainThread(mainThread) {
    if (owner != nullptr) resize(std::max(0, owner->width() - 10), height());
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    verticalScrollBar()->setTracking(true);
    setWidgetResizable(true);
    FContent = new QWidget;
    FContent->setObjectName("Content");
    setWidget(FContent);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this] { RaiseScroll(); });
}

TMixerLineControl::~TMixerLineControl() { Clear(); }

void TMixerLineControl::WatchControl(QWidget* control) { control->installEventFilter(this); }

void TMixerLineControl::AppendPanel(std::unique_ptr<TMixerPanel> panel) {
    panel->move(0, int(FPanels.size()) * panel->height());
    RowHeight = panel->height();
    panel->show();
    FPanels.push_back(std::move(panel));
    LayoutPanels();
}

void TMixerLineControl::LayoutPanels() {
    for (size_t i = 0; i < FPanels.size(); ++i) FPanels[i]->move(0, int(i) * RowHeight);
    FContent->setMinimumHeight(int(FPanels.size()) * RowHeight);
    RaiseScroll();
}

void TMixerLineControl::RaiseScroll() {
    if (OnScroll) OnScroll(this);
}

void TMixerLineControl::resizeEvent(QResizeEvent* event) {
    QScrollArea::resizeEvent(event);
    RaiseScroll();
}

int TMixerLineControl::PositionOf(int deviceNumber) const {
    int i = -1;
    for (size_t k = 0; k < FPanels.size(); ++k)
        if (FPanels[k]->RowDevice() == deviceNumber) {
            i = int(k);
            break;
        }
    return i * RowHeight + RowHeight / 2;
}

TMixerPanel* TMixerLineControl::PanelOfIdent(const std::string& ident) const {
    for (const auto& p : FPanels)
        if (p->DeviceIdent() == ident) return p.get();
    return nullptr;
}

int TMixerLineControl::ScrollPosition() const { return verticalScrollBar()->value(); }

void TMixerLineControl::RemovePanel(TMixerPanel* panel) {
    auto it = std::find_if(FPanels.begin(), FPanels.end(), [panel](const auto& p) { return p.get() == panel; });
    if (it == FPanels.end()) return;
    if (FDragSource == panel) EndDrag();
    std::unique_ptr<TMixerPanel> gone = std::move(*it);
    FPanels.erase(it);
    gone.reset();
    LayoutPanels();
}

void TMixerLineControl::Clear() {
    EndDrag();
    // Last to first, like the list was built.
    while (!FPanels.empty()) FPanels.pop_back();
    if (FContent != nullptr) FContent->setMinimumHeight(0);
}

void TMixerLineControl::SortPanels() {
    std::stable_sort(FPanels.begin(), FPanels.end(),
                     [](const auto& a, const auto& b) { return a->DeviceIndex < b->DeviceIndex; });
    LayoutPanels();
}

void TMixerLineControl::HoverPanel(TMixerPanel* panel) {
    for (const auto& p : FPanels)
        if (p->Highlighted() != (p.get() == panel)) p->SetHighlighted(p.get() == panel);
}

bool TMixerLineControl::AcceptsDrop(const TMixerPanel&) const { return false; }

void TMixerLineControl::DropOn(QObject*, TMixerPanel&, TMixerPanel&) {}

TMixerPanel* TMixerLineControl::PanelOfControl(QObject* control) {
    for (QObject* o = control; o != nullptr; o = o->parent()) {
        if (auto* panel = qobject_cast<TMixerPanel*>(o)) return panel;
        if (o->isWidgetType() && static_cast<QWidget*>(o)->isWindow()) break;
    }
    return nullptr;
}

QWidget* TMixerLineControl::ControlAt(const QPointF& globalPos) const {
    if (FDragSource == nullptr) return nullptr;
    QWidget* top = FDragSource->window();
    return top->childAt(top->mapFromGlobal(globalPos).toPoint());
}

void TMixerLineControl::BeginPress(TMixerPanel* source, const QPointF& globalPos) {
    EndDrag();
    FDragSource = source;
    FPressPos = globalPos;
    // Until the button is released the column follows every mouse event of the program:
    // with the real pointer they go to the pressed control, synthetic ones may go to
    // the control under the pointer.
    qApp->installEventFilter(this);
}

void TMixerLineControl::EndDrag() {
    if (FCursorSet) QGuiApplication::restoreOverrideCursor();
    if (FDragSource != nullptr) qApp->removeEventFilter(this);
    FCursorSet = false;
    FDragSource = nullptr;
    FDragging = false;
    FDropAllowed = false;
}

bool TMixerLineControl::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::Enter:
        if (TMixerPanel* panel = PanelOfControl(watched); panel != nullptr && &panel->Column() == this)
            HoverPanel(panel);
        break;
    case QEvent::MouseButtonPress: {
        auto* me = static_cast<QMouseEvent*>(event);
        TMixerPanel* panel = PanelOfControl(watched);
        if (panel == nullptr || &panel->Column() != this) {
            if (FDragSource != nullptr) EndDrag();  // a press elsewhere ends a pending drag
            break;
        }
        if (me->button() != Qt::LeftButton) break;
        BeginPress(panel, me->globalPosition());
        me->accept();
        return true;
    }
    case QEvent::MouseMove: {
        if (FDragSource == nullptr) break;
        auto* me = static_cast<QMouseEvent*>(event);
        if (!(me->buttons() & Qt::LeftButton)) {  // the release went elsewhere
            EndDrag();
            break;
        }
        const QPointF delta = me->globalPosition() - FPressPos;
        if (!FDragging && (std::abs(delta.x()) >= DragThreshold || std::abs(delta.y()) >= DragThreshold))
            FDragging = true;
        if (FDragging) {
            TMixerPanel* target = PanelOfControl(ControlAt(me->globalPosition()));
            FDropAllowed = target != nullptr && target->Column().AcceptsDrop(*FDragSource);
            const Qt::CursorShape shape = FDropAllowed ? Qt::DragCopyCursor : Qt::ForbiddenCursor;
            if (!FCursorSet) QGuiApplication::setOverrideCursor(QCursor(shape));
            else QGuiApplication::changeOverrideCursor(QCursor(shape));
            FCursorSet = true;
            if (target != nullptr) target->Column().HoverPanel(target);
        }
        me->accept();
        return true;
    }
    case QEvent::MouseButtonRelease: {
        if (FDragSource == nullptr) break;
        auto* me = static_cast<QMouseEvent*>(event);
        if (me->button() != Qt::LeftButton) break;
        const bool dragging = FDragging;
        TMixerPanel* source = FDragSource;
        QWidget* control = ControlAt(me->globalPosition());
        TMixerPanel* target = PanelOfControl(control);
        // The drag is over before the drop runs: a drop may open a message box.
        EndDrag();
        if (!dragging) break;  // a click
        me->accept();
        if (target != nullptr && target->Column().AcceptsDrop(*source))
            target->Column().DropOn(control, *target, *source);
        return true;
    }
    default:
        break;
    }
    return QScrollArea::eventFilter(watched, event);
}

// --- the two columns ---------------------------------------------------------------------

TMixerLineControlLeft::TMixerLineControlLeft(TWaveDriver& driver, IMainThreadQueue& mainThread, QWidget* owner)
    : TMixerLineControl(driver, mainThread, owner) {
    setObjectName("MixerLineControlLeft");
}

TMixerLeftPanel* TMixerLineControlLeft::AddPanel(int deviceNumber) {
    auto panel = std::make_unique<TMixerLeftPanel>(*this);
    panel->SetDevice(deviceNumber);  // a panel whose meter fails goes with the exception
    TMixerLeftPanel* result = panel.get();
    AppendPanel(std::move(panel));
    return result;
}

TMixerLineControlRight::TMixerLineControlRight(TWaveDriver& driver, IMainThreadQueue& mainThread, QWidget* owner)
    : TMixerLineControl(driver, mainThread, owner) {
    setObjectName("MixerLineControlRight");
}

TMixerRightPanel* TMixerLineControlRight::AddPanel(int deviceNumber) {
    auto panel = std::make_unique<TMixerRightPanel>(*this);
    panel->SetDevice(deviceNumber);
    TMixerRightPanel* result = panel.get();
    AppendPanel(std::move(panel));
    return result;
}

TMixerRightPanel* TMixerLineControlRight::PanelOf(int deviceNumber) const {
    for (size_t i = 0; i < PanelCount(); ++i)
        if (Panel(i)->RowDevice() == deviceNumber) return static_cast<TMixerRightPanel*>(Panel(i));
    return nullptr;
}

bool TMixerLineControlRight::AcceptsDrop(const TMixerPanel& source) const {
    return source.Kind() == TWaveKind::In;
}

void TMixerLineControlRight::DropOn(QObject* sender, TMixerPanel& target, TMixerPanel& source) {
    if (!OnReRoute || source.Kind() != TWaveKind::In) return;
    OnReRoute(sender, source.Router().AudioIn().DeviceID(), target.RowDevice(), Mono16bit11025Hz);
}
