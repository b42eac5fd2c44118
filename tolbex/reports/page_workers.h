// Work on report pages spread over the cores. Pages are independent of each other, so the
// order they are worked on does not change the result; what must happen in page order (writing
// files) the jobs arrange among themselves, and painting on one printer stays with the caller.
#pragma once
#include <cstddef>
#include <functional>

namespace tv {

// Runs job(0) ... job(count - 1) on up to one worker per core and returns when all are done; the
// caller waits meanwhile. Jobs are handed out in index order and every job handed out runs, so a
// job may wait for an earlier one. After a job throws no further jobs start; the first exception
// is rethrown here. Called from a job, the jobs run one after another on that thread. Anything
// that must exist once per process (the Qt application) must exist before.
void for_each_page_parallel(std::size_t count, const std::function<void(std::size_t)>& job);

}  // namespace tv
