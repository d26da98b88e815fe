// nomain.cpp - a plug-in executable that loads but exports no `main`: the host must refuse
// it with a clear message.
extern "C" __attribute__((visibility("default"))) int not_the_entry(int x) {
    return x + 1;
}
