#include "link/SessionResults.h"

WriteResult WriteResultOf(const Answer& answer)
{
    WriteResult result;
    result.address = answer.question.address;
    result.reg = answer.question.reg;
    result.value = answer.question.value;
    result.how = answer.outcome;
    result.exceptionCode = answer.exceptionCode;
    result.stored = answer.stored;
    result.tries = answer.tries;
    return result;
}

ReadFailure ReadFailureOf(const Answer& answer)
{
    ReadFailure failure;
    failure.block = answer.question.block;
    failure.why = answer.why;
    failure.exceptionCode = answer.exceptionCode;
    failure.spoiltSeen = answer.spoiltSeen;
    failure.tries = answer.tries;
    return failure;
}
