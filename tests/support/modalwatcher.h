#pragma once
// The window's modal message boxes, as tests answer them. A box is seen through an
// application event filter at the moment it is shown, never by polling for it; the answer
// is queued then, so it runs first thing inside the box's nested event loop.

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QEvent>
#include <QMessageBox>
#include <QPointer>
#include <QStringList>
#include <QTest>
#include <QTimer>

#include <functional>

// Watches for modal message boxes while it lives and closes each with OK. `whileUp` runs
// while the first box is up, again every 10 ms until it returns true (what it waits for
// happens inside the box's event loop); a box kept up past 5 s is closed anyway and
// `timedOut` set. The first box's looks are kept; `texts` has every box's text.
class ModalWatcher : public QObject
{
public:
    explicit ModalWatcher(std::function<bool(QMessageBox *)> whileUp = {})
        : m_whileUp(std::move(whileUp))
    {
        qApp->installEventFilter(this);
    }

    bool seen = false;
    bool timedOut = false;
    QString text;
    QString title;
    QString objectName;
    QMessageBox::Icon icon = QMessageBox::Warning;
    QStringList buttons;
    QMessageBox::StandardButtons standardButtons;
    QStringList texts;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show) {
            auto *box = qobject_cast<QMessageBox *>(watched);
            if (box && box->isModal())
                shown(box);
        }
        return false;
    }

private:
    void shown(QMessageBox *box)
    {
        texts.append(box->text());
        const bool first = !seen;
        if (first) {
            seen = true;
            text = box->text();
            title = box->windowTitle();
            objectName = box->objectName();
            icon = box->icon();
            for (QAbstractButton *b : box->buttons())
                buttons.append(b->text());
            standardButtons = box->standardButtons();
        }
        const QDeadlineTimer deadline(5000);
        QTimer::singleShot(0, box, [this, box, first, deadline] { answer(box, first, deadline); });
    }

    void answer(QMessageBox *box, bool first, QDeadlineTimer deadline)
    {
        const bool done = !first || !m_whileUp || m_whileUp(box);
        if (!done && !deadline.hasExpired()) {
            QTimer::singleShot(10, box, [=, this] { answer(box, first, deadline); });
            return;
        }
        timedOut = timedOut || !done;
        if (QAbstractButton *ok = box->button(QMessageBox::Ok))
            QTest::mouseClick(ok, Qt::LeftButton);
        else
            box->done(0);
    }

    std::function<bool(QMessageBox *)> m_whileUp;
};
