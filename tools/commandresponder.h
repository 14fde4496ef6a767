#pragma once
// How the simulated instrument answers what the monitor sends; pure, no I/O, no clock.
//
// Frame profile (the monitor's "<STX>/<EOT>" and "<SYN>" suffixes):
//   STX READ EOT   ACK, then a reading (STX ... CR)
//   STX ID EOT     ACK, then STX "COMMTEST-SIM,FRAME,1" CR
//   STX DLE EOT    ACK alone (the monitor's "<SYN>" message)
//   STX other EOT  EOT alone: unknown command
//   bare text      (no STX, ended by CR, LF or a quiet line) EOT alone
// Line profile: a command is a line ended by CR, LF or a quiet line:
//   READ           a measurement line (... CR LF)
//   ID             "COMMTEST-SIM;LINE;1" CR LF
//   other          "ERR;UNKNOWN COMMAND" CR LF
// Commands are compared without surrounding spaces and ignoring case. Each answer is one
// unit that the instrument sends without a reading in between.

#include "tools/framegenerator.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <cstdint>

class CommandResponder
{
public:
    CommandResponder(SimProfile profile, std::uint64_t seed);

    // The seed of the readings sent as answers to READ, apart from the unsolicited ones.
    static std::uint64_t replySeed(std::uint64_t seed) { return seed ^ 0x5EED5EED5EED5EEDull; }
    // Longest command kept; the rest of a longer one is dropped (it is then unknown).
    static constexpr qsizetype kMaxCommand = 256;

    // Bytes received from the monitor; the answers they complete, in order.
    QList<QByteArray> feed(QByteArrayView received);
    // The line has been quiet for a while: a bare command or line without its end is
    // taken as complete; an unfinished STX command is abandoned without an answer.
    QList<QByteArray> quiet();
    // Whether a command is partly received.
    bool pending() const { return m_inCommand || !m_command.isEmpty(); }

private:
    QByteArray answerFramed(const QByteArray &command);
    QByteArray answerLine(const QByteArray &command);
    void keep(char c);

    SimProfile m_profile = SimProfile::Frame;
    FrameGenerator m_replies;
    bool m_inCommand = false; // frame profile: between STX and EOT
    QByteArray m_command;
};
