#include "model/WorkQueues.h"

WorkQueues::WorkQueues()
{
    m_fileOperations.setMaxThreadCount(1);
    // Kept alive: the queue sees a write after nearly every key press.
    m_fileOperations.setExpiryTimeout(-1);
}

WorkQueues::~WorkQueues()
{
    m_fileOperations.waitForDone();
    m_background.waitForDone();
    m_decode.waitForDone();
}
