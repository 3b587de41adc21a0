// Answers the next modal window of a type as the operator would, for GUI tests.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <functional>

// Answers the next modal window of type W, once, while this object lives.
template <class W>
class Answer {
  public:
    explicit Answer(std::function<void(W*)> act) : act_(std::move(act)) {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (auto* w = qobject_cast<W*>(QApplication::activeModalWidget())) {
                timer_.stop();
                ++count;
                act_(w);
            }
        });
        timer_.start(10);
    }
    int count = 0;

  private:
    QTimer timer_;
    std::function<void(W*)> act_;
};

inline Answer<QMessageBox>* Press(QMessageBox::StandardButton which) {
    return new Answer<QMessageBox>([which](QMessageBox* box) { box->button(which)->click(); });
}
