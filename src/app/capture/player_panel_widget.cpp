#include "app/capture/player_panel_widget.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QSlider>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "platform/media_player.h"

namespace {
constexpr int kRefreshMs = 250;
constexpr int kSliderSteps = 1000;
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
    // The position is shown, not set: the player offers no seeking.
    m_pSlider = new QSlider(Qt::Horizontal, this);
    m_pSlider->setRange(0, kSliderSteps);
    m_pSlider->setFocusPolicy(Qt::NoFocus);
    m_pSlider->setAttribute(Qt::WA_TransparentForMouseEvents);
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
    layout->setContentsMargins(0, 0, 0, 0);
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
    m_refresh.setInterval(kRefreshMs);
    connect(&m_refresh, &QTimer::timeout, this, &CPlayerPanelWidget::Refresh);
    SetAcceptsKeyboard(true);
    UpdateEnabled();
    Refresh();
}

void CPlayerPanelWidget::SetPlayer(CMediaPlayer* player) {
    disconnect(m_position);
    disconnect(m_state);
    m_pPlayer = player;
    if (m_pPlayer) {
        m_position =
            connect(m_pPlayer, &CMediaPlayer::PositionChanged, this, &CPlayerPanelWidget::Refresh);
        m_state =
            connect(m_pPlayer, &CMediaPlayer::PlayStateChanged, this, &CPlayerPanelWidget::Refresh);
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
    m_pSlider->setValue(duration > 0 ? int(std::lround(position / duration * kSliderSteps)) : 0);
    // Stopped, paused or playing, drawn as the buttons draw them.
    static const char* const kStateSigns[] = {"&#9632;", "&#10073;&#10073;", "&#9654;"};
    QString text = QStringLiteral("%1 %2 / %3")
                       .arg(QLatin1String(kStateSigns[std::clamp(state, 0, 2)]),
                            FormatPlayTime(position), FormatPlayTime(duration));
    if (m_bRecordingMark)
        text = QStringLiteral("<span style=\"color:#e00000\">&#9679;</span> ") + text;
    m_pStatus->setText(text);
}

void CPlayerPanelWidget::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space && m_bControlsEnabled && m_pPlayer) {
        if (m_pPlayer->PlayState() == kPlayStatePlaying)
            m_pPlayer->Pause();
        else
            m_pPlayer->Play();
        return;
    }
    QWidget::keyPressEvent(event);
}
