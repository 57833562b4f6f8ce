#ifndef DOC_H_
#define DOC_H_
class Doc {
 int pages;
};
#endif
