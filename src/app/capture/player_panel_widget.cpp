#include "app/capture/player_panel_widget.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <utility>

#include "platform/media_player.h"

namespace {
constexpr int kRefreshMs = 250;
constexpr int kSliderSteps = 1000;
// Width of the focus mark around the controls.
constexpr int kFocusMargin = 2;

// Colours of the span's marks on the slider: a start in green, an end in red, the span between
// them shaded.
const QColor kStartMarkColor(0, 160, 0);
const QColor kEndMarkColor(220, 0, 0);

// A position slider that jumps to where it is clicked and follows a drag from there (a plain
// slider only moves a page towards the click). It draws the span's marks over its groove.
class CSeekSlider : public QSlider {
public:
    using QSlider::QSlider;

    // Fractions of the slider's range; below 0: no mark.
    void SetMarks(double start, double end) {
        if (start == m_dStart && end == m_dEnd)
            return;
        m_dStart = start;
        m_dEnd = end;
        update();
    }

protected:
    void paintEvent(QPaintEvent* event) override {
        QSlider::paintEvent(event);
        if (m_dStart < 0 && m_dEnd < 0)
            return;
        // Plain names, not a structured binding: the lambda below takes them.
        const std::pair<QRect, QRect> parts = Parts();
        const QRect groove = parts.first;
        const QRect handle = parts.second;
        // Where the handle's centre stands at that fraction, as the style places it.
        const auto xOf = [&](double fraction) {
            const int value = minimum() + int(std::lround(fraction * (maximum() - minimum())));
            return groove.x() + handle.width() / 2 +
                   QStyle::sliderPositionFromValue(minimum(), maximum(), value,
                                                   groove.width() - handle.width());
        };
        QPainter painter(this);
        if (m_dStart >= 0 && m_dEnd >= 0) {
            QColor band = palette().color(QPalette::Highlight);
            band.setAlpha(70);
            painter.fillRect(
                QRect(QPoint(xOf(m_dStart), rect().top()), QPoint(xOf(m_dEnd), rect().bottom())),
                band);
        }
        for (const auto& [fraction, color] :
             {std::pair{m_dStart, kStartMarkColor}, std::pair{m_dEnd, kEndMarkColor}}) {
            if (fraction >= 0)
                painter.fillRect(QRect(xOf(fraction) - 1, rect().top(), 2, rect().height()), color);
        }
    }

    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton && isEnabled()) {
            const auto [groove, handle] = Parts();
            if (!handle.contains(event->position().toPoint())) {
                const int x = event->position().toPoint().x() - groove.x() - handle.width() / 2;
                setValue(QStyle::sliderValueFromPosition(minimum(), maximum(), x,
                                                         groove.width() - handle.width()));
            }
        }
        // The handle is under the mouse now: the press takes it, and a drag moves it on.
        QSlider::mousePressEvent(event);
    }

private:
    // The groove and the handle where the style draws them now.
    std::pair<QRect, QRect> Parts() const {
        QStyleOptionSlider option;
        initStyleOption(&option);
        return {style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, this),
                style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this)};
    }

    double m_dStart = -1;
    double m_dEnd = -1;
};
}  // namespace

QString FormatPlayTime(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0)
        seconds = 0;
    const long long tenths = std::llround(std::floor(seconds * 10.0));
    return QStringLiteral("%1:%2.%3")
        .arg(tenths / 600)
        .arg(tenths / 10 % 60, 2, 10, QLatin1Char('0'))
        .arg(tenths % 10);
}

QString FormatFrameTime(double seconds, double framesPerSecond) {
    if (!std::isfinite(seconds) || seconds < 0)
        seconds = 0;
    const long long ms = std::llround(seconds * 1000.0);
    QString time = QStringLiteral("%1:%2:%3.%4")
                       .arg(ms / 3600000)
                       .arg(ms / 60000 % 60, 2, 10, QLatin1Char('0'))
                       .arg(ms / 1000 % 60, 2, 10, QLatin1Char('0'))
                       .arg(ms % 1000, 3, 10, QLatin1Char('0'));
    if (!(framesPerSecond > 0) || !std::isfinite(framesPerSecond))
        return time;
    // A picture's position is its start; the rounding takes in a position a hair before it.
    const long long frame = std::llround(std::floor(seconds * framesPerSecond + 1e-3));
    return QCoreApplication::translate("CPlayerPanelWidget", "%1 · 帧 %2").arg(time).arg(frame);
}

CPlayerPanelWidget::CPlayerPanelWidget(QWidget* parent) : QWidget(parent) {
    auto makeButton = [this](QStyle::StandardPixmap icon, const char* name) {
        auto* button = new QToolButton(this);
        button->setIcon(style()->standardIcon(icon));
        button->setObjectName(QLatin1String(name));
        button->setAutoRaise(true);
        button->setFocusPolicy(Qt::NoFocus);
        return button;
    };
    m_pPlay = makeButton(QStyle::SP_MediaPlay, "play");
    m_pPause = makeButton(QStyle::SP_MediaPause, "pause");
    m_pStop = makeButton(QStyle::SP_MediaStop, "stop");
    // Shows the position while playing; a click or a drag moves it there.
    m_pSlider = new CSeekSlider(Qt::Horizontal, this);
    m_pSlider->setRange(0, kSliderSteps);
    m_pSlider->setFocusPolicy(Qt::NoFocus);
    // The buttons keep their size however narrow the panel gets; the slider gives way.
    for (QToolButton* button : {m_pPlay, m_pPause, m_pStop}) {
        button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        button->setMinimumSize(button->sizeHint());
    }
    m_pSlider->setMinimumWidth(40);
    // The keys, for whoever has not read the help page.
    m_pPlay->setToolTip(tr("播放（空格键）"));
    m_pPause->setToolTip(tr("暂停（空格键）"));
    m_pStop->setToolTip(tr("停止并回到开头"));
    m_pSlider->setToolTip(
        tr("点击或拖动以定位。← →：前后 5 秒；Shift+← →：逐帧；"
           "I / O：设起点 / 终点；S 或 F12：存当前画面"));
    m_pStatus = new QLabel(this);
    m_pStatus->setFrameShape(QFrame::StyledPanel);
    m_pStatus->setFrameShadow(QFrame::Sunken);
    m_pStatus->setTextFormat(Qt::RichText);

    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    row->addWidget(m_pPlay);
    row->addWidget(m_pPause);
    row->addWidget(m_pStop);
    row->addWidget(m_pSlider, 1);
    auto* layout = new QVBoxLayout(this);
    // Room for the focus mark.
    layout->setContentsMargins(kFocusMargin, kFocusMargin, kFocusMargin, kFocusMargin);
    layout->setSpacing(1);
    layout->addLayout(row);
    layout->addWidget(m_pStatus);
    layout->addStretch(1);

    connect(m_pPlay, &QToolButton::clicked, this, [this] {
        if (m_pPlayer)
            m_pPlayer->Play();
    });
    connect(m_pPause, &QToolButton::clicked, this, [this] {
        if (m_pPlayer)
            m_pPlayer->Pause();
    });
    connect(m_pStop, &QToolButton::clicked, this, [this] {
        if (m_pPlayer)
            m_pPlayer->Stop();
    });
    connect(m_pSlider, &QSlider::sliderPressed, this, &CPlayerPanelWidget::SeekToSlider);
    connect(m_pSlider, &QSlider::sliderMoved, this, &CPlayerPanelWidget::SeekToSlider);
    connect(m_pSlider, &QSlider::sliderReleased, this, &CPlayerPanelWidget::SeekToSlider);
    m_refresh.setInterval(kRefreshMs);
    connect(&m_refresh, &QTimer::timeout, this, &CPlayerPanelWidget::Refresh);
    SetAcceptsKeyboard(true);
    UpdateEnabled();
    Refresh();
}

void CPlayerPanelWidget::SetPlayer(IMediaPlayer* player) {
    disconnect(m_position);
    disconnect(m_state);
    m_pPlayer = player;
    if (m_pPlayer) {
        m_position =
            connect(m_pPlayer, &IMediaPlayer::PositionChanged, this, &CPlayerPanelWidget::Refresh);
        m_state =
            connect(m_pPlayer, &IMediaPlayer::PlayStateChanged, this, &CPlayerPanelWidget::Refresh);
        m_refresh.start();
    } else {
        m_refresh.stop();
    }
    UpdateEnabled();
    Refresh();
}

void CPlayerPanelWidget::SetControlsEnabled(bool bEnable) {
    m_bControlsEnabled = bEnable;
    UpdateEnabled();
}

void CPlayerPanelWidget::SetAcceptsKeyboard(bool bAccept) {
    m_bAcceptsKeyboard = bAccept;
    setFocusPolicy(bAccept ? Qt::StrongFocus : Qt::NoFocus);
    if (!bAccept && hasFocus())
        clearFocus();
}

void CPlayerPanelWidget::SetShowButtons(bool bShow) {
    for (QWidget* control : std::initializer_list<QWidget*>{m_pPlay, m_pPause, m_pStop, m_pSlider})
        control->setVisible(bShow);
}

void CPlayerPanelWidget::SetShowStatusLine(bool bShow) {
    m_pStatus->setVisible(bShow);
}

bool CPlayerPanelWidget::ShowStatusLine() const {
    return !m_pStatus->isHidden();
}

void CPlayerPanelWidget::SetRecordingMark(bool bShow) {
    m_bRecordingMark = bShow;
    Refresh();
}

void CPlayerPanelWidget::UpdateEnabled() {
    const bool bEnable = m_bControlsEnabled && m_pPlayer != nullptr;
    for (QToolButton* button : {m_pPlay, m_pPause, m_pStop}) button->setEnabled(bEnable);
    m_pSlider->setEnabled(bEnable && m_pPlayer->HasMedia());
}

bool CPlayerPanelWidget::CanSeek() const {
    return m_bControlsEnabled && m_pPlayer != nullptr && m_pPlayer->HasMedia();
}

void CPlayerPanelWidget::SeekToSlider() {
    if (!CanSeek())
        return;
    const double duration = m_pPlayer->Duration();
    if (duration > 0)
        m_pPlayer->Seek(duration * m_pSlider->value() / kSliderSteps);
}

void CPlayerPanelWidget::Refresh() {
    double position = 0;
    double duration = 0;
    int state = kPlayStateStopped;
    if (m_pPlayer && m_pPlayer->HasMedia()) {
        position = m_pPlayer->PositionSeconds();
        duration = m_pPlayer->Duration();
        state = m_pPlayer->PlayState();
    }
    // A slider held by the user shows where it is dragged, not where the player still is.
    if (!m_pSlider->isSliderDown())
        m_pSlider->setValue(duration > 0 ? int(std::lround(position / duration * kSliderSteps))
                                         : 0);
    m_pSlider->setEnabled(m_bControlsEnabled && m_pPlayer && m_pPlayer->HasMedia());
    // Stopped, paused or playing, drawn as the buttons draw them.
    static const char* const kStateSigns[] = {"&#9632;", "&#10073;&#10073;", "&#9654;"};
    QString text = QStringLiteral("%1 %2 / %3")
                       .arg(QLatin1String(kStateSigns[std::clamp(state, 0, 2)]),
                            FormatPlayTime(position), FormatPlayTime(duration));
    if (m_bRecordingMark)
        text = QStringLiteral("<span style=\"color:#e00000\">&#9679;</span> ") + text;
    m_pStatus->setText(text);
    ShowMarks();
    emit PositionShown(position);
}

void CPlayerPanelWidget::SetMark(bool bEnd) {
    if (!m_pPlayer || !m_pPlayer->HasMedia())
        return;
    const double position = m_pPlayer->PositionSeconds();
    std::optional<double> start = m_startMark;
    std::optional<double> end = m_endMark;
    if (bEnd) {
        end = position;
        if (start && *start > position)
            start.reset();
    } else {
        start = position;
        if (end && *end < position)
            end.reset();
    }
    SetMarks(start, end);
}

void CPlayerPanelWidget::SetMarks(std::optional<double> start, std::optional<double> end) {
    if (start == m_startMark && end == m_endMark)
        return;
    m_startMark = start;
    m_endMark = end;
    ShowMarks();
    emit MarksChanged();
}

void CPlayerPanelWidget::ClearMarks() {
    SetMarks(std::nullopt, std::nullopt);
}

void CPlayerPanelWidget::ShowMarks() {
    const double duration = m_pPlayer && m_pPlayer->HasMedia() ? m_pPlayer->Duration() : 0.0;
    const auto fraction = [duration](const std::optional<double>& mark) {
        return mark && duration > 0 ? std::clamp(*mark / duration, 0.0, 1.0) : -1.0;
    };
    static_cast<CSeekSlider*>(m_pSlider)->SetMarks(fraction(m_startMark), fraction(m_endMark));
}

void CPlayerPanelWidget::keyPressEvent(QKeyEvent* event) {
    const Qt::KeyboardModifiers modifiers =
        event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
    const int key = event->key();
    if ((key == Qt::Key_S || key == Qt::Key_F12) && modifiers == Qt::NoModifier) {
        emit SaveFrameRequested();
        return;
    }
    if ((key == Qt::Key_I || key == Qt::Key_O) && modifiers == Qt::NoModifier) {
        if (m_bControlsEnabled)
            SetMark(key == Qt::Key_O);
        return;
    }
    const bool bArrow = key == Qt::Key_Left || key == Qt::Key_Right;
    const bool bPlayerKey =
        (key == Qt::Key_Space && modifiers == Qt::NoModifier) ||
        (bArrow && (modifiers == Qt::NoModifier || modifiers == Qt::ShiftModifier));
    if (!bPlayerKey) {
        QWidget::keyPressEvent(event);
        return;
    }
    // Taken while the controls are off too, so that the keys never reach the page's buttons.
    if (!m_bControlsEnabled || !m_pPlayer || !m_pPlayer->HasMedia())
        return;
    const bool bForward = key == Qt::Key_Right;
    if (key == Qt::Key_Space) {
        if (m_pPlayer->PlayState() == kPlayStatePlaying)
            m_pPlayer->Pause();
        else
            m_pPlayer->Play();
    } else if (modifiers == Qt::ShiftModifier) {
        m_pPlayer->StepFrame(bForward);
    } else {
        m_pPlayer->Seek(m_pPlayer->PositionSeconds() +
                        (bForward ? kSeekStepSeconds : -kSeekStepSeconds));
    }
    Refresh();
}

void CPlayerPanelWidget::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    if (!hasFocus())
        return;
    // The mark lies around the controls, never over a picture that is grabbed.
    QPainter painter(this);
    QPen pen(palette().color(QPalette::Highlight), kFocusMargin);
    pen.setJoinStyle(Qt::MiterJoin);
    painter.setPen(pen);
    painter.drawRect(QRectF(rect()).adjusted(kFocusMargin / 2.0, kFocusMargin / 2.0,
                                             -kFocusMargin / 2.0, -kFocusMargin / 2.0));
}

void CPlayerPanelWidget::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    update();
}

void CPlayerPanelWidget::focusOutEvent(QFocusEvent* event) {
    QWidget::focusOutEvent(event);
    update();
}
