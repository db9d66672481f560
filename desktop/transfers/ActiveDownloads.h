// The program-wide count of running download workers and the limit the scheduler keeps it
// under (5 at start).
#pragma once

namespace activedownloads {

constexpr int kDefaultLimit = 5;

int Running();
int Limit();
void SetLimit(int limit);
void Increment();
void Decrement();

}  // namespace activedownloads
