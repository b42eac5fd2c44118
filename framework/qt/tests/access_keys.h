// Presses Alt with every access key a shown dialog offers and checks that each key reaches its
// control: a label's buddy takes the focus, a button is clicked. Keys of the buttons that close
// the dialog (accept or reject role) are pressed last, in the order given.
#pragma once
#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace tv::fw::testing {

// The access key of a control's text ('&' before it; "&&" is a plain '&'), upper-cased; 0 when none.
inline QChar access_key(const QString& text) {
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != QLatin1Char('&')) continue;
        if (text[i + 1] == QLatin1Char('&')) {
            ++i;
            continue;
        }
        return text[i + 1].toUpper();
    }
    return QChar();
}

// What went wrong, one line per fault; empty when every key reaches its control.
inline std::vector<std::string> access_key_faults(QWidget& dialog) {
    std::vector<std::string> faults;
    // Modal, as exec() shows it: no window behind takes the activation back.
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.show();
    dialog.activateWindow();
    if (!QTest::qWaitForWindowActive(&dialog)) return {"the dialog does not become active"};
    QTest::qWait(50);  // the activation's own events first
    struct Target {
        QChar key;
        QWidget* control;  // takes the focus (a label's buddy) or is clicked (a button)
        QString text;
        bool closes;
    };
    std::vector<Target> targets;
    for (QLabel* label : dialog.findChildren<QLabel*>()) {
        const QChar key = access_key(label->text());
        if (key.isNull() || !label->isVisible()) continue;
        if (!label->buddy())
            faults.push_back("\"" + label->text().toStdString() + "\" has a key but no control");
        else
            targets.push_back({key, label->buddy(), label->text(), false});
    }
    for (QAbstractButton* button : dialog.findChildren<QAbstractButton*>()) {
        const QChar key = access_key(button->text());
        if (key.isNull() || !button->isVisible()) continue;
        auto* box = qobject_cast<QDialogButtonBox*>(button->parentWidget());
        const auto role = box ? box->buttonRole(button) : QDialogButtonBox::InvalidRole;
        targets.push_back({key, button, button->text(),
                           role == QDialogButtonBox::AcceptRole || role == QDialogButtonBox::RejectRole});
    }
    std::map<QChar, QString> seen;
    for (const Target& t : targets) {
        auto [at, fresh] = seen.emplace(t.key, t.text);
        if (!fresh)
            faults.push_back("\"" + at->second.toStdString() + "\" and \"" + t.text.toStdString() + "\" share Alt+" +
                             QString(t.key).toStdString());
    }
    std::stable_partition(targets.begin(), targets.end(), [](const Target& t) { return !t.closes; });
    for (const Target& t : targets) {
        const std::string name = "Alt+" + QString(t.key).toStdString() + " (\"" + t.text.toStdString() + "\")";
        if (!dialog.isVisible()) {
            faults.push_back(name + ": the dialog closed before it");
            continue;
        }
        auto* button = qobject_cast<QAbstractButton*>(t.control);
        std::unique_ptr<QSignalSpy> clicks;
        if (button) clicks = std::make_unique<QSignalSpy>(button, &QAbstractButton::clicked);
        // The keys go to the active window: a window behind may have taken the activation back.
        if (QApplication::activeWindow() != &dialog) {
            dialog.activateWindow();
            if (!QTest::qWaitForWindowActive(&dialog)) faults.push_back(name + ": the dialog does not become active");
        }
        if (QWidget* f = QApplication::focusWidget(); f == t.control) f->clearFocus();
        QTest::keyClick(&dialog, t.key.toLatin1(), Qt::AltModifier);
        if (button) {
            if (!clicks->wait(1000)) faults.push_back(name + " does not press its button");
        } else if (QApplication::focusWidget() != t.control) {
            faults.push_back(name + " does not reach its control");
        }
    }
    return faults;
}

}  // namespace tv::fw::testing
