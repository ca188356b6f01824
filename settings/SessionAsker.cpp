#include "settings/SessionAsker.h"

SessionAsker::SessionAsker(RelaySession& session, int tries, QObject* parent)
    : QObject(parent), session_(session), tries_(tries), address_(session.State().SlaveAddress)
{
    connect(&session_, &RelaySession::requestSent, this, &SessionAsker::requestSent);
    connect(&session_, &RelaySession::blockRead, this, &SessionAsker::blockRead);
    connect(&session_, &RelaySession::readFailed, this, &SessionAsker::readFailed);
    connect(&session_, &RelaySession::writeEnded, this, &SessionAsker::writeEnded);
    connect(&session_, &RelaySession::lineLost, this, [this] {
        lost_ = true;
        lineGone();
    });
    connect(&session_, &RelaySession::lineOpenChanged, this, [this](bool open) {
        if (open)
            lost_ = false;
        else
            lineGone();
    });
}

SessionAsker::~SessionAsker()
{
    // A write on the line is told as unconfirmed; nobody waits for the answer.
    Abandon();
}

void SessionAsker::Read(const RegisterBlock& block, int address, int tries, bool probe, Done done)
{
    Pending p;
    p.block = block;
    p.address = address > 0 ? address : address_;
    p.done = std::move(done);
    ask(std::move(p), AskOptions{tries > 0 ? tries : tries_, 0, 0, probe});
}

void SessionAsker::Write(int reg, uint16_t value, int address, Done done)
{
    Pending p;
    p.write = true;
    p.reg = reg;
    p.value = value;
    p.address = address > 0 ? address : address_;
    p.done = std::move(done);
    ask(std::move(p), AskOptions{tries_, 0, 0, false});
}

void SessionAsker::ask(Pending pending, const AskOptions& options)
{
    AskOptions o = options;
    o.address = pending.address;
    const bool write = pending.write;
    const RegisterBlock block = pending.block;
    const int reg = pending.reg;
    const uint16_t value = pending.value;
    pending_ = std::move(pending);
    if (lost_ || !session_.IsOpen()) {
        giveUp(LoadCause::LineLost);
        return;
    }
    if (write)
        session_.AskWrite(reg, value, o);
    else
        session_.AskRead(block, o);
}

void SessionAsker::requestSent(const SentRequest& sent)
{
    if (!pending_ || !session_.Asking() || sent.Slave() != pending_->address)
        return;
    const bool ours = pending_->write
        ? sent.IsWrite() && sent.Register() == pending_->reg && sent.Operand() == pending_->value
        : !sent.IsWrite() && sent.Register() == pending_->block.first && sent.Operand() == pending_->block.count;
    if (ours)
        ++pending_->tries;
}

void SessionAsker::blockRead(const RegisterValues& values)
{
    if (!pending_ || pending_->write || values.mode != 0 || !(values.block == pending_->block))
        return;
    LoadAnswer a;
    a.outcome = LoadReply::Values;
    a.values = values.values;
    end(a);
}

void SessionAsker::readFailed(const ReadFailure& failure)
{
    if (!pending_ || pending_->write || !(failure.block == pending_->block))
        return;
    LoadAnswer a;
    a.outcome = LoadReply::ReadFailed;
    a.cause = failure.why == ExchangeFailure::Refused ? LoadCause::None : LoadCause::NoAnswer;
    a.exceptionCode = failure.why == ExchangeFailure::Refused ? failure.exceptionCode : 0;
    a.spoiltSeen = failure.spoiltSeen;
    a.tries = failure.tries;
    end(a);
}

void SessionAsker::writeEnded(const WriteResult& result)
{
    if (!pending_ || !pending_->write || result.reg != pending_->reg || result.value != pending_->value)
        return;
    LoadAnswer a;
    a.tries = result.tries;
    switch (result.how) {
    case WriteHow::Echoed: a.outcome = LoadReply::Echoed; break;
    case WriteHow::Refused: a.outcome = LoadReply::Refused; a.exceptionCode = result.exceptionCode; break;
    case WriteHow::Altered: a.outcome = LoadReply::Altered; a.stored = result.stored; break;
    case WriteHow::NoAnswer: a.outcome = LoadReply::Unconfirmed; a.cause = LoadCause::NoAnswer; break;
    case WriteHow::Unconfirmed: a.outcome = LoadReply::Unconfirmed; a.cause = LoadCause::LineLost; break;
    }
    end(a);
}

void SessionAsker::lineGone()
{
    if (pending_)
        giveUp(LoadCause::LineLost);
}

void SessionAsker::Abandon()
{
    if (!pending_)
        return;
    session_.CancelAsk();
    giveUp(LoadCause::Abandoned);
}

void SessionAsker::giveUp(LoadCause cause)
{
    LoadAnswer a;
    a.cause = cause;
    a.tries = pending_->tries;
    a.spoiltSeen = pending_->spoiltSeen;
    if (pending_->write && a.LeftThePc()) {
        a.outcome = LoadReply::Unconfirmed;
        // The relay may hold the value: the write is told like any other
        // that ended, so that whoever keeps account of writes has it.
        WriteResult r;
        r.reg = pending_->reg;
        r.value = pending_->value;
        r.how = WriteHow::Unconfirmed;
        r.tries = a.tries;
        const Pending given = std::move(*pending_);
        pending_.reset();
        emit session_.writeEnded(r);
        pending_ = given;
    } else {
        a.outcome = pending_->write ? LoadReply::NotSent : LoadReply::ReadFailed;
    }
    end(a);
}

void SessionAsker::end(LoadAnswer answer)
{
    Done done = std::move(pending_->done);
    pending_.reset();
    // From the event loop: the load may ask its next question from `done`.
    QMetaObject::invokeMethod(this, [done = std::move(done), answer] { done(answer); }, Qt::QueuedConnection);
}
