#include "link/Question.h"

Question Question::Read(const RegisterBlock& block, int address)
{
    Question q;
    q.kind = Kind::Read;
    q.block = block;
    q.address = address;
    return q;
}

Question Question::Write(int reg, uint16_t value, int address)
{
    Question q;
    q.kind = Kind::Write;
    q.reg = reg;
    q.value = value;
    q.address = address;
    return q;
}
