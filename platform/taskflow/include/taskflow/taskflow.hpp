#pragma once
// Umbrella header of the task-graph executor: tf::Taskflow graphs, tf::Task handles and the
// tf::Executor that runs graphs and single asynchronous tasks on a fixed set of worker threads.
#include "taskflow/core/executor.hpp"
#include "taskflow/core/task.hpp"
#include "taskflow/core/taskflow.hpp"
