#ifndef BASE_H_
#define BASE_H_
class Base {
 public:
  virtual ~Base();
};
#endif
