// Picking and dropping tapes: the file and folder choosers, and the drop
// zone, which also takes whole folders, read in name order. Only files whose
// names say they are read are handed on, with a count of the others.
import {kindOf} from './protocol.mjs';

// Every file below a dropped folder, in name order.
async function filesIn(entry, out, folder = '') {
  const path = folder + entry.name;
  if (entry.isFile) {
    const file = await new Promise((resolve, reject) => entry.file(resolve, reject));
    file.brivanePath = path;
    out.push(file);
    return;
  }
  const reader = entry.createReader();
  const entries = [];
  for (let batch; (batch = await new Promise((res, rej) => reader.readEntries(res, rej))).length > 0;) entries.push(...batch);
  entries.sort((a, b) => (a.name < b.name ? -1 : a.name > b.name ? 1 : 0));
  for (const e of entries) await filesIn(e, out, path + '/');
}

/**
 * Hands what is picked or dropped on the page's choosers and drop zone to
 * addTapes(files, skipped), skipped counting the files of a folder whose
 * names the page does not read; status says when a dropped folder cannot be read.
 */
export function watchPicking({fileInput, folderInput, dropZone, status}, addTapes) {
  fileInput.addEventListener('change', () => {
    addTapes([...fileInput.files]);
    fileInput.value = '';
  });

  folderInput.addEventListener('change', () => {
    const all = [...folderInput.files];
    const picked = all.filter((f) => kindOf(f.name));
    addTapes(picked, all.length - picked.length);
    folderInput.value = '';
  });

  dropZone.addEventListener('dragover', (event) => {
    event.preventDefault();
    dropZone.classList.add('over');
  });
  dropZone.addEventListener('dragleave', () => dropZone.classList.remove('over'));
  dropZone.addEventListener('drop', async (event) => {
    event.preventDefault();
    dropZone.classList.remove('over');
    const dropped = [], fromFolders = [];
    const entries = [...event.dataTransfer.items].map((item) => item.webkitGetAsEntry && item.webkitGetAsEntry());
    const files = [...event.dataTransfer.files];
    try {
      for (let i = 0; i < entries.length; i++) {
        if (entries[i] && entries[i].isDirectory) await filesIn(entries[i], fromFolders);
        else if (files[i]) dropped.push(files[i]);
      }
    } catch (e) {
      status.textContent = `Could not read the dropped folder (${e.name || e}).`;
    }
    const picked = fromFolders.filter((f) => kindOf(f.name));
    addTapes([...dropped, ...picked], fromFolders.length - picked.length);
  });
  dropZone.addEventListener('keydown', (event) => {
    if (event.key === 'Enter' || event.key === ' ') {
      event.preventDefault();
      fileInput.click();
    }
  });
  dropZone.addEventListener('click', () => fileInput.click());
}
