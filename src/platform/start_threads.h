// Fanning work out to threads, and what happens when the system has no more threads to give:
// the one rule the job workers, the resize bands, the stacker's combine and the store's release
// all follow.
#pragma once

#include <functional>
#include <thread>
#include <vector>

// Starts one thread running `body`; throws std::system_error when the system refuses, as
// constructing a std::jthread does. The program always uses the default (a std::jthread); the
// tests hand in one that refuses on purpose.
using ThreadStarter = std::function<std::jthread(std::function<void()> body)>;

// Starts threads running work(0), work(1) … work(n - 1), in that order, and returns those
// started: the first refusal ends the starting, as the threads after it would be refused too.
// So thread i of the result runs work(i); the indexes from the result's size on never run.
// Dropping the result joins the threads.
std::vector<std::jthread> StartThreads(int n, const std::function<void(int index)>& work,
                                       const ThreadStarter& start = {});

// Runs work(0) … work(n - 1), each exactly once, and returns when all are done: work(0) on the
// calling thread, the others on threads of their own (StartThreads), and those the system
// refuses a thread on the calling thread too, after work(0). For work cut into independent
// parts, which any thread may do.
void RunOnThreads(int n, const std::function<void(int index)>& work,
                  const ThreadStarter& start = {});
