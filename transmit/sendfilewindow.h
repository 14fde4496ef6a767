#pragma once
// The non-modal "Sending file" window: the file's name, a progress bar, bytes sent of the
// total, the rate, the time left and Cancel. It shows what the FileSender reports; after a
// stop it keeps the final text and Cancel becomes Close.

#include <QWidget>

class FileSender;
class QLabel;
class QProgressBar;
class QPushButton;

class SendFileWindow : public QWidget
{
    Q_OBJECT
public:
    SendFileWindow(FileSender *sender, QWidget *parent = nullptr);

    // The value label of a row, by caption ("File", "Sent", "Rate", "Time left",
    // "Status"); for tests.
    QLabel *valueLabel(const QString &caption) const;
    QPushButton *cancelButton() const { return m_cancel; }
    QProgressBar *progressBar() const { return m_progress; }

    // Shows the sender's figures now.
    void refresh();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void cancelOrClose();
    void ended(const QString &text);
    static void setValue(QLabel *label, const QString &text);

    FileSender *m_sender;
    QLabel *m_file = nullptr;
    QProgressBar *m_progress = nullptr;
    QLabel *m_sent = nullptr;
    QLabel *m_rate = nullptr;
    QLabel *m_left = nullptr;
    QLabel *m_status = nullptr;
    QPushButton *m_cancel = nullptr;
};
