#include "framework/qt/window_helpers.h"

#include <algorithm>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QScreen>
#include <QWidget>

#include "common/number_text.h"
#include "common/profile.h"
#include "common/profile_names.h"
#include "common/text.h"
#include "platform/ascii.h"
#include "framework/qt/frame.h"
#include "framework/qt/qt_text.h"

namespace tv::fw {
namespace {
QPointer<QWidget>& explicit_main() {
    static QPointer<QWidget> w;
    return w;
}
constexpr const char* kPlacementEntry = "Settings";
}  // namespace

QWidget* main_window() {
    if (Application* a = app())
        if (a->main_frame()) return a->main_frame();
    return explicit_main().data();
}

void set_main_window(QWidget* window) { explicit_main() = window; }

QWidget* active_or_main_window() {
    if (qobject_cast<QApplication*>(QCoreApplication::instance()))
        if (QWidget* w = QApplication::activeWindow()) return w;
    return main_window();
}

// --- placement

std::string format_window_placement(const WindowPlacement& wp) {
    auto u = [](std::int32_t v) { return static_cast<unsigned>(v); };
    return format_string("%u %u %u %u %u %u %u %u %u %u", wp.flags, wp.show_cmd, u(wp.min_pos.x), u(wp.min_pos.y),
                         u(wp.max_pos.x), u(wp.max_pos.y), u(wp.normal.l), u(wp.normal.t), u(wp.normal.r),
                         u(wp.normal.b));
}

long long parse_int_token(const char*& cursor) {
    if (!cursor) return 0;
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (blank(*cursor)) ++cursor;
    bool negative = false;
    if (*cursor == '-') {
        negative = true;
        ++cursor;
    }
    unsigned long long v = 0;
    if (cursor[0] == '0' && (cursor[1] == 'x' || cursor[1] == 'X')) {
        cursor += 2;
        for (;; ++cursor) {
            char c = *cursor;
            int d = (c >= '0' && c <= '9')   ? c - '0'
                    : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                    : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                             : -1;
            if (d < 0) break;
            v = (v << 4) | static_cast<unsigned>(d);
            v &= 0xFFFFFFFFull;
        }
    } else if (platform::is_digit(*cursor)) {
        const ParsedInteger n = parse_integer_wrapping(cursor);
        v = static_cast<std::uint64_t>(n.value) & 0xFFFFFFFFull;
        cursor += n.end;
    }
    while (blank(*cursor)) ++cursor;
    const long long s = static_cast<long long>(v);
    return negative ? -s : s;
}

bool parse_window_placement(const std::string& text, WindowPlacement& wp) {
    if (text.empty()) return false;
    const char* c = text.c_str();
    long long v[10];
    for (auto& x : v) x = parse_int_token(c);
    auto i32 = [](long long x) { return static_cast<std::int32_t>(static_cast<std::uint32_t>(x)); };
    wp.flags = static_cast<std::uint32_t>(v[0]) & 0xFFFF;
    wp.show_cmd = static_cast<std::uint32_t>(v[1]) & 0xFFFF;
    wp.min_pos = {i32(v[2]), i32(v[3])};
    wp.max_pos = {i32(v[4]), i32(v[5])};
    wp.normal = {i32(v[6]), i32(v[7]), i32(v[8]), i32(v[9])};
    return true;
}

WindowPlacement get_window_placement(QWidget* window) {
    if (!window) window = main_window();
    WindowPlacement wp;
    if (!window) return wp;
    if (window->isMaximized())
        wp.show_cmd = 3;
    else if (window->isMinimized())
        wp.show_cmd = 2;
    else if (!window->isVisible())
        wp.show_cmd = 0;
    else
        wp.show_cmd = 1;
    const QRect n = (window->isMaximized() || window->isMinimized()) && window->normalGeometry().isValid()
                        ? window->normalGeometry()
                        : window->geometry();
    wp.normal = {n.left(), n.top(), n.left() + n.width(), n.top() + n.height()};
    return wp;
}

void set_window_placement(QWidget* window, const WindowPlacement& wp) {
    if (!window) return;
    const QRect r(wp.normal.l, wp.normal.t, wp.normal.r - wp.normal.l, wp.normal.b - wp.normal.t);
    if (window->isMaximized() || window->isMinimized()) window->showNormal();
    if (r.isValid()) window->setGeometry(r);
}

bool save_window_placement(QWidget* window) {
    if (!window) window = main_window();
    if (!window) return false;
    return write_profile_string(kWindowPosSection, kPlacementEntry,
                                format_window_placement(get_window_placement(window)));
}

bool is_saved_rect_usable(QWidget* window, const Rc& rect) {
    if (window) {
        const QRect cur = window->geometry();
        if (rect.r - rect.l != cur.width() || rect.b - rect.t != cur.height()) return false;
    }
    const QPoint corners[] = {{rect.l, rect.t}, {rect.r - 1, rect.t}, {rect.l, rect.b - 1}, {rect.r - 1, rect.b - 1}};
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return false;
    for (const QPoint& c : corners)
        for (QScreen* s : QGuiApplication::screens())
            if (s->geometry().contains(c)) return true;
    return false;
}

void restore_window_placement(QWidget* window) {
    const bool is_main = window == nullptr || window == main_window();
    if (!window) window = main_window();
    if (!window) return;
    WindowPlacement wp;
    const std::string saved = get_profile_string(kWindowPosSection, kPlacementEntry, "");
    bool usable = parse_window_placement(saved, wp) && is_saved_rect_usable(is_main ? nullptr : window, wp.normal);
    // A window saved hidden or minimised would start out of reach: only normal and maximised.
    const int show = (usable && wp.show_cmd == 3) ? 3 : 1;
    if (usable) {
        set_window_placement(window, wp);
        if (is_main) {
            if (Application* a = app()) a->set_show_cmd(show);
            if (show == 3)
                window->showMaximized();
            else
                window->showNormal();
        }
        return;
    }
    if (is_main) {
        if (Application* a = app()) a->set_show_cmd(1);
        window->showNormal();
        return;
    }
    if (QWidget* parent = window->parentWidget()) {
        QRect pr = parent->isWindow() ? parent->geometry() : parent->rect();
        window->move(pr.center() - window->rect().center());
    } else if (QScreen* s = QGuiApplication::primaryScreen()) {
        window->move(s->availableGeometry().center() - window->rect().center());
    }
    window->showNormal();
}

// --- fonts

bool write_profile_font(const std::string& section, const LogFont& f) {
    bool ok = write_profile_int(section, "height", f.height);
    ok = write_profile_int(section, "weight", f.weight) && ok;
    ok = write_profile_int(section, "italic", f.italic ? 1 : 0) && ok;
    ok = write_profile_int(section, "strike", f.strike ? 1 : 0) && ok;
    ok = write_profile_int(section, "charset", f.charset) && ok;
    ok = write_profile_string(section, "typeface", f.face) && ok;
    return ok;
}

void read_profile_font(const std::string& section, LogFont& f) {
    f.height = get_profile_int(section, "height", f.height);
    f.weight = get_profile_int(section, "weight", f.weight);
    f.italic = get_profile_int(section, "italic", f.italic ? 1 : 0) != 0;
    f.strike = get_profile_int(section, "strike", f.strike ? 1 : 0) != 0;
    f.charset = get_profile_int(section, "charset", f.charset);
    f.face = get_profile_string(section, "typeface", f.face);
    if (f.face.size() > 31) f.face.resize(31);
}

// --- walkers

int for_each_document(const std::function<int(Document&)>& callback) {
    Application* a = app();
    if (!a) return 0;
    for (Document* d : a->documents())
        if (int r = callback(*d)) return r;
    return 0;
}

int for_each_view(const std::function<int(View&)>& callback) {
    return for_each_document([&](Document& d) {
        const std::vector<View*> views = d.views();
        for (View* v : views)
            if (int r = callback(*v)) return r;
        return 0;
    });
}

int count_documents() {
    int n = 0;
    for_each_document([&](Document&) {
        ++n;
        return 0;
    });
    return n;
}

int long_text_width_cap(const QWidget* box) {
    const QScreen* screen = box->screen() ? box->screen() : QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry().width() / 2 : 640;
}

void fit_items_whole(QComboBox* box) {
    const int cap = long_text_width_cap(box);
    const QFontMetrics metrics = box->fontMetrics();
    for (int i = 0; i < box->count(); ++i) {
        QString whole = box->itemData(i, Qt::ToolTipRole).toString();
        if (whole.isEmpty()) whole = box->itemText(i);
        box->setItemData(i, whole, Qt::ToolTipRole);
        if (metrics.horizontalAdvance(whole) > cap)
            box->setItemText(i, metrics.elidedText(whole, Qt::ElideMiddle, cap));
    }
    box->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    auto show_current = [box] { box->setToolTip(box->currentData(Qt::ToolTipRole).toString()); };
    show_current();
    if (!box->property("tv_fits_items").toBool()) {
        box->setProperty("tv_fits_items", true);
        QObject::connect(box, &QComboBox::currentIndexChanged, box, show_current);
    }
}

void fit_field_to_text(QLineEdit* field) {
    auto fit = [field] {
        const QString text = field->text();
        const int frame = field->sizeHint().width() - field->fontMetrics().horizontalAdvance(QString(17, QChar('x')));
        const int wanted = field->fontMetrics().horizontalAdvance(text) + std::max(frame, 12);
        field->setMinimumWidth(std::min(std::max(wanted, 0), long_text_width_cap(field)));
        field->setToolTip(text);
    };
    fit();
    QObject::connect(field, &QLineEdit::textChanged, field, fit);
}

}  // namespace tv::fw
