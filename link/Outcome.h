// How a request to the relay ended: one vocabulary for everyone who asks or
// keeps account (a question's reply, a write ended, a round of relays, a load
// of settings, the journal of writes), and the one policy that turns what
// befell a request into it.
#pragma once

#include "link/LinkState.h"
#include "link/PollCycle.h"

enum class Outcome {
    Values,        // a read answered
    Echoed,        // a write confirmed by its exact echo: the relay holds the value
    Altered,       // a write echoed with another value: the relay stored that instead
    Refused,       // the relay refused with an exception code (a read: at its last try)
    NoAnswer,      // every try went out and none brought the relay's sound answer
    // It left the PC and was cut short before the relay's word: the line was
    // lost or closed (a write), its asker gave it up, or the window moved on
    // to another request. A write: the relay may hold either value.
    Unconfirmed,
    NotSent,       // given up by its asker before it left the PC
    Aborted,       // the line closed or was lost first: before it left the PC, or a read under way
};

// "values", "echoed", "altered", "refused", "no answer", "unconfirmed",
// "not sent", "aborted". A write's end (the first five but "values") is
// written to the journal in these words.
const char* OutcomeName(Outcome outcome);

// What ended a request.
enum class Ending {
    Reply,        // the relay's answer, judged by its verdict
    TriesSpent,   // its last try failed, for the reason given
    LineGone,     // the line was lost or closed, or the session went
    Withdrawn,    // its asker gave it up, or the window moved on to another request
};

// The policy: how a read or a write (`write`) that did (`leftThePc`) or did
// not leave the PC ends by `ending`; `verdict` for a reply, `why` for tries
// spent.
Outcome OutcomeOf(bool write, bool leftThePc, Ending ending, ReplyVerdict verdict = ReplyVerdict::ReadValid,
                  ExchangeFailure why = ExchangeFailure::NoReply);

// The relay said something of its own (values, an echo, a refusal): it is there.
bool RelayAnswered(Outcome outcome);
// It went out and no word of the relay's came back.
bool LeftUnanswered(Outcome outcome);
