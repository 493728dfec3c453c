#include "model/SerialFileWriter.h"

SerialFileWriter::SerialFileWriter()
{
    m_pool.setMaxThreadCount(1);
    m_pool.setExpiryTimeout(-1);
}

SerialFileWriter::~SerialFileWriter()
{
    m_pool.waitForDone();
}

void SerialFileWriter::post(std::function<void()> write)
{
    m_pool.start(std::move(write));
}

void SerialFileWriter::waitForDone()
{
    m_pool.waitForDone();
}
