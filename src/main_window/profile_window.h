#pragma once
// The profile of a sidebar row: picture, name, phone, status and the button that opens the
// direct conversation. Closing only hides it; the controller drops it.

#include <QImage>
#include <QString>
#include <QWidget>

class QLabel;
class QPushButton;

namespace brindlewick {

class ProfileWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 320;
    static constexpr int kHeight = 380;

    struct Content {
        QString name;
        QString phone;
        QString status;
        QString pictureId; // "" for none
    };

    // `picture` null: the placeholder until setPicture.
    ProfileWindow(const Content& content, const QImage& picture);

    const QString& pictureId() const { return pictureId_; }
    void setPicture(const QImage& picture);
    QLabel* pictureView() const { return picture_; }
    QPushButton* chatButton() const { return chatButton_; } // null without a phone number

signals:
    void chatRequested();

private:
    QString pictureId_;
    QLabel* picture_ = nullptr;
    QPushButton* chatButton_ = nullptr;
};

} // namespace brindlewick
