#include "model/WorkQueues.h"

WorkQueues::WorkQueues()
{
    m_standIns.setMaxThreadCount(2);
    m_processorRetirement.setMaxThreadCount(1);
    m_fileOperations.setMaxThreadCount(1);
    // Kept alive: the queue sees a write after nearly every key press.
    m_fileOperations.setExpiryTimeout(-1);
    m_storeWrites.setMaxThreadCount(1);
    m_storeWrites.setExpiryTimeout(-1); // a save follows nearly every key press
    m_renditions.setMaxThreadCount(1);
    m_folderScans.setMaxThreadCount(1);
    m_folderCounts.setMaxThreadCount(1);
}

WorkQueues::~WorkQueues()
{
    // A retired processor's last job may still wait on a stand-in, and a
    // scan's result may be freed on the scans' pool: the users first.
    m_processorRetirement.waitForDone();
    m_background.waitForDone();
    m_shootingData.waitForDone();
    m_fileOperations.waitForDone();
    m_storeWrites.waitForDone();
    m_renditions.waitForDone();
    m_folderCounts.waitForDone();
    m_folderScans.waitForDone();
    m_decode.waitForDone();
    m_standIns.waitForDone();
}
