#include "app/gui/Look.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <cmath>

namespace mobivert::gui {

namespace {

constexpr int BANNER_HEIGHT = 72;

// The emblem: a blue disc with a play triangle turning into an arrow.
void PaintEmblem(QPainter& p, const QRectF& box) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    QRectF disc = box.adjusted(2, 2, -2, -2);
    QRadialGradient glow(disc.center() - QPointF(disc.width() / 5, disc.height() / 5),
                         disc.width() * 0.75);
    glow.setColorAt(0, QColor(0x8c, 0xd0, 0xff));
    glow.setColorAt(1, QColor(0x1b, 0x5a, 0xa8));
    p.setPen(QPen(QColor(0xe8, 0xf2, 0xff), disc.width() / 24));
    p.setBrush(glow);
    p.drawEllipse(disc);

    const double s = disc.width();
    const QPointF o = disc.topLeft();
    QPainterPath play;
    play.moveTo(o + QPointF(0.34 * s, 0.26 * s));
    play.lineTo(o + QPointF(0.34 * s, 0.74 * s));
    play.lineTo(o + QPointF(0.62 * s, 0.50 * s));
    play.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawPath(play);
    p.setBrush(QColor(0xff, 0xc4, 0x3d));
    QPainterPath arrow;
    arrow.moveTo(o + QPointF(0.60 * s, 0.36 * s));
    arrow.lineTo(o + QPointF(0.78 * s, 0.50 * s));
    arrow.lineTo(o + QPointF(0.60 * s, 0.64 * s));
    arrow.closeSubpath();
    p.drawPath(arrow);
    p.restore();
}

} // namespace

namespace {

// A disc of the colour with a white mark drawn by the function, at the list's icon sizes.
template <typename Mark> QIcon DiscIcon(const QColor& color, Mark mark) {
    QIcon icon;
    for (int size : {16, 20, 32}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing, true);
        p.setPen(Qt::NoPen);
        p.setBrush(color);
        p.drawEllipse(QRectF(1, 1, size - 2, size - 2));
        QPen pen(Qt::white, size / 7.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
        p.setPen(pen);
        mark(p, static_cast<qreal>(size));
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace

QColor DoneColor() {
    return QColor(0x1e, 0x7a, 0x34);
}

QColor FailedColor() {
    return QColor(0xb0, 0x1e, 0x1e);
}

QIcon DoneIcon() {
    static const QIcon icon = DiscIcon(DoneColor(), [](QPainter& p, qreal s) {
        p.drawPolyline(QPolygonF{QPointF(0.28 * s, 0.52 * s), QPointF(0.44 * s, 0.68 * s),
                                 QPointF(0.72 * s, 0.34 * s)});
    });
    return icon;
}

QIcon FailedIcon() {
    static const QIcon icon = DiscIcon(FailedColor(), [](QPainter& p, qreal s) {
        p.drawLine(QPointF(0.33 * s, 0.33 * s), QPointF(0.67 * s, 0.67 * s));
        p.drawLine(QPointF(0.67 * s, 0.33 * s), QPointF(0.33 * s, 0.67 * s));
    });
    return icon;
}

QIcon ProgramIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        PaintEmblem(p, QRectF(0, 0, size, size));
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

QString StyleSheet() {
    return QStringLiteral(R"(
QWidget#frmMain, QDialog#frmOptions { background: #e9eef4; }
QWidget { color: #1d2b3a; }
QLabel { background: transparent; }
QPushButton {
    background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #fdfeff, stop:1 #d5dfeb);
    border: 1px solid #8397b0; border-radius: 4px; padding: 4px 12px; min-height: 18px;
}
QPushButton:hover { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #ffffff, stop:1 #c2d8f2); border-color: #3f7cc4; }
QPushButton:pressed { background: #b7cde8; }
QPushButton:focus { border: 2px solid #e08a00; }
QPushButton:disabled { color: #9aa6b4; background: #e4e8ee; border-color: #c2cbd6; }
QPushButton#btnConvert {
    font-weight: bold;
    background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #5da8ef, stop:1 #1f5fae);
    color: white; border-color: #174b8a;
}
QPushButton#btnConvert:hover { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #74b7f5, stop:1 #2a6fc2); }
QPushButton#btnConvert:focus { border: 2px solid #e08a00; }
QPushButton#btnConvert:disabled { background: #9db3cc; color: #e8eef5; border-color: #8fa3ba; }
QLineEdit, QComboBox {
    background: white; border: 1px solid #8397b0; border-radius: 3px; padding: 2px 4px;
    min-height: 18px; selection-background-color: #2f74c6;
}
QLineEdit:read-only { background: #f6f8fb; }
QLineEdit:focus, QComboBox:focus, QSpinBox:focus, QTableWidget:focus { border: 2px solid #e08a00; }
QCheckBox:focus, QRadioButton:focus { background: #fde9c4; border-radius: 3px; }
QToolButton#btnHelp:focus { border: 2px solid #e08a00; }
QLineEdit:disabled, QComboBox:disabled { background: #eceff3; color: #9aa6b4; border-color: #c2cbd6; }
QComboBox QAbstractItemView { background: white; selection-background-color: #2f74c6; selection-color: white; }
QGroupBox {
    border: 1px solid #a9b8ca; border-radius: 4px; margin-top: 9px; padding: 6px 6px 4px 6px;
    background: #f3f6f9;
}
QGroupBox::title { subcontrol-origin: margin; left: 8px; padding: 0 2px; color: #1f4f8a; font-weight: bold; }
QTableWidget {
    background: white; alternate-background-color: #f2f6fb; gridline-color: #d3dce6;
    border: 1px solid #8397b0; selection-background-color: #cfe3fa; selection-color: #1d2b3a;
}
QHeaderView::section {
    background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #f8fafc, stop:1 #d9e2ec);
    border: none; border-right: 1px solid #b5c2d2; border-bottom: 1px solid #9fb0c4; padding: 3px 6px;
    font-weight: bold;
}
QTabWidget::pane { border: 1px solid #a9b8ca; background: #eef2f7; top: -1px; }
QTabBar::tab { background: #d9e2ec; border: 1px solid #a9b8ca; padding: 4px 14px; border-top-left-radius: 4px; border-top-right-radius: 4px; }
QTabBar::tab:selected { background: #eef2f7; border-bottom-color: #eef2f7; font-weight: bold; }
QToolTip { background: #fffbe6; color: #1d2b3a; border: 1px solid #b59f4d; }
QMenu { background: white; border: 1px solid #8397b0; }
QMenu::item { padding: 4px 22px; }
QMenu::item:selected { background: #2f74c6; color: white; }
QMenu::separator { height: 1px; background: #c2cbd6; margin: 3px 6px; }
QToolButton#btnHelp { background: transparent; color: white; border: 1px solid rgba(255,255,255,90); border-radius: 10px; font-weight: bold; }
QToolButton#btnHelp:hover { background: rgba(255,255,255,50); }
)");
}

TBanner::TBanner(QWidget* parent) : QWidget(parent) {
    setFixedHeight(BANNER_HEIGHT);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize TBanner::sizeHint() const {
    return {732, BANNER_HEIGHT};
}

void TBanner::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, true);
    const QRectF all = rect();

    QLinearGradient sky(all.topLeft(), all.bottomLeft());
    sky.setColorAt(0, QColor(0x24, 0x4f, 0x86));
    sky.setColorAt(1, QColor(0x10, 0x2a, 0x4c));
    p.fillRect(all, sky);
    p.setPen(QColor(0x5d, 0x9c, 0xe6));
    p.drawLine(all.bottomLeft() - QPointF(0, 0.5), all.bottomRight() - QPointF(0, 0.5));

    // First picture: the emblem.
    PaintEmblem(p, QRectF(12, 8, BANNER_HEIGHT - 16, BANNER_HEIGHT - 16));

    // Second picture: name and purpose.
    QFont title = font();
    title.setPointSizeF(title.pointSizeF() * 1.9);
    title.setBold(true);
    p.setFont(title);
    p.setPen(Qt::white);
    QRectF text(BANNER_HEIGHT + 6, 8, 360, 34);
    p.drawText(text, Qt::AlignLeft | Qt::AlignVCenter, "Corvel Mobivert");
    QFont line = font();
    line.setItalic(true);
    p.setFont(line);
    p.setPen(QColor(0xbf, 0xd9, 0xf7));
    p.drawText(QRectF(BANNER_HEIGHT + 8, 42, 380, 20), Qt::AlignLeft | Qt::AlignVCenter,
               "Video and audio for every player and phone");

    // Third picture: film frames fading into a sound wave, kept clear of the help button.
    const double right = all.right() - 44;
    const double left = std::max(BANNER_HEIGHT + 330.0, right - 230);
    if (right - left < 80)
        return;
    const double top = 14, height = BANNER_HEIGHT - 28;
    const double filmEnd = left + (right - left) * 0.55;
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x0b, 0x1c, 0x33));
    p.drawRoundedRect(QRectF(left, top, filmEnd - left, height), 3, 3);
    p.setBrush(QColor(0xd6, 0xe6, 0xf8));
    for (double x = left + 4; x + 4 < filmEnd; x += 9) {
        p.drawRect(QRectF(x, top + 3, 4, 4));
        p.drawRect(QRectF(x, top + height - 7, 4, 4));
    }
    const double frameWidth = (filmEnd - left - 12) / 3;
    for (int i = 0; i < 3; ++i) {
        QRectF frame(left + 4 + i * (frameWidth + 2), top + 10, frameWidth, height - 20);
        QLinearGradient shade(frame.topLeft(), frame.bottomRight());
        shade.setColorAt(0, QColor::fromHsv(200 + i * 18, 150, 240));
        shade.setColorAt(1, QColor::fromHsv(220 + i * 18, 200, 150));
        p.setBrush(shade);
        p.drawRect(frame);
    }
    QPainterPath wave;
    const double mid = top + height / 2;
    wave.moveTo(filmEnd + 4, mid);
    for (double x = filmEnd + 4; x <= right; x += 2) {
        double t = (x - filmEnd) / (right - filmEnd);
        wave.lineTo(x, mid + std::sin(t * 18.0) * (height / 2 - 4) * (1.0 - t * 0.6));
    }
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0xff, 0xc4, 0x3d), 2));
    p.drawPath(wave);
}

} // namespace mobivert::gui
