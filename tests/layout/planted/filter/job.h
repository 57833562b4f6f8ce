int job();
