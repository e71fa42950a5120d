#include "support/player_fixture.h"
#include <X11/StringDefs.h>
#include "app/app.h"
#include "disc/cdrom.h"
#include "program/program.h"
#include "ui/ui.h"
static void dump(Widget w, int depth) {
    Position x, y; Dimension wd, ht, bw;
    XtVaGetValues(w, XtNx, &x, XtNy, &y, XtNwidth, &wd, XtNheight, &ht, XtNborderWidth, &bw, nullptr);
    fprintf(stderr, "%*s%s %d,%d %ux%u bw%u managed=%d realized=%d\n", depth*2, "", XtName(w), x, y, wd, ht, bw, XtIsManaged(w), XtIsRealized(w));
    if (XtIsComposite(w)) { WidgetList ch; Cardinal n; XtVaGetValues(w, XtNchildren, &ch, XtNnumChildren, &n, nullptr);
      for (Cardinal i = 0; i < n; i++) dump(ch[i], depth+1); }
}
TEST_F(PlayerTest, Dump) {
    start_player(demo_disc());
    click(pgmButton);
    process_events();
    dump(top_shell, 0);
    FAIL();
}
