// Only a value, no function: a folder like this must not pass the check unseen.
#pragma once

struct Values {
  int first = 0;
  int second = 0;
};
