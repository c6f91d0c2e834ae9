#include "transfer/HeadlessPassHost.h"

HeadlessPassHost::HeadlessPassHost(QString source, QString destination, bool move, bool overwrite,
                                   MessageTable texts)
    : m_source(std::move(source)), m_destination(std::move(destination)), m_move(move),
      m_overwrite(overwrite), m_texts(std::move(texts))
{
}

void HeadlessPassHost::setCancelRequested(bool requested)
{
    // The pass clears a request only after it has acted on it.
    if (m_cancel && !requested)
        m_cancelled = true;
    m_cancel = requested;
}
