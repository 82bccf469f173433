#pragma once

#include <QByteArray>

// How one connection is answered once its request has been read.
struct Delivery {
    enum class Kind {
        answer,             // write `bytes`, then close
        closeWithoutAnswer, // close at once
        silent,             // keep the connection open and write nothing
    };
    Kind kind = Kind::answer;
    QByteArray bytes;
    int delayMs = 0;       // before the first byte
    qsizetype splitAt = 0; // > 0: the first `splitAt` bytes, a pause, then the rest
    int pauseMs = 200;     // between the two pieces

    static Delivery answer(QByteArray bytes) { return {Kind::answer, std::move(bytes)}; }
};
