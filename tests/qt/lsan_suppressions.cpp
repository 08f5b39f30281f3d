// Under the leak checker: what Qt's PDF module keeps for the whole process
// (its engine's global state) and the gesture recogniser each PDF view
// registers are Qt's own, not leaks of ours.
extern "C" const char *__lsan_default_suppressions()
{
    return "leak:QScroller::grabGesture\n"
           "leak:libQt6Pdf.so\n";
}
